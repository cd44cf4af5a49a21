#!/usr/bin/env bash
# Side by side with CloudCompare's cloud-to-mesh distance (Debian's
# `cloudcompare`, installed here when missing; a comparison, never a
# dependency): the demo's fused mesh against the rig's true object.
#
#   bench/peers/cloudcompare.sh DEMO_DIR [BUILD_DIR]
#
# DEMO_DIR is a folder written by `tarvelin demo` (demo.tarvelinproj with
# the fused mesh, truth.stl). Ours: `tarvelin measure --method triangle`
# with a tolerance of 20 mm (so that no deviation is clamped), its
# deviation seconds from report.json. CloudCompare: the same vertices as a
# point cloud against truth.stl, `-C2M_DIST`, timed as one run minus a run
# that only loads the two files. Printed: both times and the share of
# vertices whose distances (magnitudes) agree within 1 µm.
set -euo pipefail

DEMO=${1:?usage: bench/peers/cloudcompare.sh DEMO_DIR [BUILD_DIR]}
BUILD=${2:-build/release}
TARVELIN=$BUILD/apps/tarvelin/tarvelin
OUT=$DEMO/peer-cloudcompare

if ! command -v CloudCompare > /dev/null; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends cloudcompare
fi
export QT_QPA_PLATFORM=offscreen

rm -rf "$OUT"
mkdir -p "$OUT"
start=$(date +%s.%N)
"$TARVELIN" measure "$DEMO/demo.tarvelinproj:fusion" "$DEMO/truth.stl" --method triangle --tolerance 20 \
  --no-features --out "$OUT/ours" > /dev/null
end=$(date +%s.%N)
ours_total=$(echo "$end - $start" | bc)

# The test vertices (in the order of deviations.ply) as a point cloud.
python3 - "$OUT" <<'PY'
import struct, sys
out = sys.argv[1]
data = open(out + "/ours/deviations.ply", "rb").read()
head_end = data.index(b"end_header\n") + len(b"end_header\n")
header = data[:head_end].decode("latin-1").splitlines()
count = int(next(l for l in header if l.startswith("element vertex")).split()[2])
sizes = {"float32": 4, "uint8": 1, "int32": 4}
props, in_vertex = [], False
for line in header:
    if line.startswith("element"):
        in_vertex = line.startswith("element vertex")
    elif line.startswith("property") and in_vertex:
        props.append((line.split()[2], sizes[line.split()[1]]))
stride = sum(s for _, s in props)
offset = {}
o = 0
for name, size in props:
    offset[name] = o
    o += size
with open(out + "/points.ply", "wb") as f, open(out + "/ours.txt", "w") as d:
    f.write(b"ply\nformat binary_little_endian 1.0\nelement vertex %d\nproperty float x\nproperty float y\n"
            b"property float z\nend_header\n" % count)
    for i in range(count):
        base = head_end + i * stride
        f.write(data[base:base + 12])
        d.write("%.9g\n" % struct.unpack_from("<f", data, base + offset["deviation"])[0])
PY

start=$(date +%s.%N)
CloudCompare -SILENT -AUTO_SAVE OFF -O "$OUT/points.ply" -O "$DEMO/truth.stl" > "$OUT/cc-load.log" 2>&1
end=$(date +%s.%N)
cc_load=$(echo "$end - $start" | bc)
start=$(date +%s.%N)
CloudCompare -SILENT -AUTO_SAVE OFF -NO_TIMESTAMP -C_EXPORT_FMT ASC -PREC 9 -SEP SPACE \
  -O "$OUT/points.ply" -O "$DEMO/truth.stl" -C2M_DIST -SAVE_CLOUDS FILE "$OUT/cc.asc" > "$OUT/cc.log" 2>&1
end=$(date +%s.%N)
cc_total=$(echo "$end - $start" | bc)

python3 - "$OUT" "$ours_total" "$cc_total" "$cc_load" <<'PY'
import json, sys
out, ours_total, cc_total, cc_load = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4])
ours = [abs(float(l)) for l in open(out + "/ours.txt")]
cc = [abs(float(l.split()[-1])) for l in open(out + "/cc.asc") if l.strip() and not l.startswith("//")]
report = json.load(open(out + "/ours/report.json"))
n = min(len(ours), len(cc))
diff = sorted(abs(a - b) for a, b in zip(ours[:n], cc[:n]))
within = sum(1 for d in diff if d <= 0.001) / n
print("vertices: ours %d, CloudCompare %d" % (len(ours), len(cc)))
print("agreement within 1 um: %.4f %% of the vertices; median |difference| %.3g mm, p99 %.3g mm, max %.3g mm"
      % (100 * within, diff[n // 2], diff[int(0.99 * (n - 1))], diff[-1]))
import re
logged = [float(t) for t in re.findall(r"\[(?:computeApproxDistances|ComputeDistances)\] Time: ([0-9.]+) s", open(out + "/cc.log").read())]
print("ours: deviations %.2f s (the whole command %.2f s); CloudCompare: distances %.2f s by its log (%s), "
      "C2M %.2f s by the clock (run %.2f s less loading %.2f s)"
      % (report["seconds"]["deviations"], ours_total, sum(logged), " + ".join("%.2f" % t for t in logged),
         cc_total - cc_load, cc_total, cc_load))
PY
