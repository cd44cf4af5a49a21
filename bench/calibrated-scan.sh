#!/usr/bin/env bash
# A single scan of the default rig with corner-calibrated setups against the
# same scan with the rig's true models: per calibration seed of SEEDS,
# `tarvelin calibrate --rig default --seed S` then `tarvelin scan --rig
# default --setup …` (the rig renders with its true models, the scanner
# triangulates with the calibrated ones). Prints per seed the calibrated
# camera's and projector's errors (the position error as a vector in the true
# camera's frame: x right, y down, z along the viewing axis, mm) and the
# scan's depth error (RMS, mean, p99), then the mean over the seeds: a mean
# depth offset of one sign and size over the seeds is a bias of the
# calibration, one that changes sign is its noise.
#
#   bench/calibrated-scan.sh   (BUILD=build/release, SEEDS="1 2 3 4", OUT=$BUILD/calibrated-scan;
#                               REPORT_ONLY=1: only the table of an earlier run in OUT)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build/release}
SEEDS=${SEEDS:-1 2 3 4}
OUT=${OUT:-$BUILD/calibrated-scan}
TARVELIN="$BUILD/apps/tarvelin/tarvelin"
if [ -z "${REPORT_ONLY:-}" ]; then
  rm -rf "$OUT"
  mkdir -p "$OUT"
  "$TARVELIN" scan --rig default --out "$OUT/scan-true" > "$OUT/scan-true.txt"
  for seed in $SEEDS; do
    "$TARVELIN" calibrate --rig default --seed "$seed" --out "$OUT/calib-$seed" > "$OUT/calib-$seed.txt"
    "$TARVELIN" scan --rig default --setup "$OUT/calib-$seed/setup.tarvelinsetup" \
      --out "$OUT/scan-$seed" > "$OUT/scan-$seed.txt"
  done
fi
/usr/bin/python3 - "$OUT" share/rigs/default/rig.tarvelinsetup $SEEDS <<'EOF'
import json
import sys
import xml.etree.ElementTree as ET

import numpy as np

out, truth_path, seeds = sys.argv[1], sys.argv[2], sys.argv[3:]


def pose(node):
    p = node.find("pose")
    columns = [[float(p.find(k).get(a)) for a in "xyz"] for k in "noap"]
    return np.array(columns[:3]).T, np.array(columns[3])


def models(path):
    root = ET.parse(path).getroot()
    camera = root.find("cameras/camera/cameraModel")
    projector = root.find("projectors/projector/projectorModel")
    return pose(camera), pose(projector)


def depth(folder):
    c = json.load(open(f"{folder}/report.json"))["cameras"][0]["depth_error_mm"]
    return c["rms"], c["mean"], c["p99"]


(true_rc, true_tc), (true_rp, true_tp) = models(truth_path)
t_rms, t_mean, t_p99 = depth(f"{out}/scan-true")
print(f"true models: depth error RMS {t_rms:.4f} mm, mean {t_mean:+.4f}, p99 {t_p99:.4f}")
print("| seed | camera f % / pp px | camera position error (x, y, z in its frame) mm "
      "| projector f % / pp px | projector position error (camera frame) mm "
      "| scan RMS / mean / p99 mm | RMS vs true |")
print("|---|---|---|---|---|---|---|")
rows = []
for s in seeds:
    report = json.load(open(f"{out}/calib-{s}/report.json"))
    cam, proj = report["cameras"][0]["error"], report["projector"]["error"]
    (rc, tc), (rp, tp) = models(f"{out}/calib-{s}/setup.tarvelinsetup")
    dc = true_rc.T @ (tc - true_tc)
    dp = true_rc.T @ (tp - true_tp)
    rms, mean, p99 = depth(f"{out}/scan-{s}")
    rows.append((rms, mean, p99, dc, dp))
    print(f"| {s} | {cam['f_error_percent']:+.4f} / {cam['principal_point_error_px']:.3f} "
          f"| {dc[0]:+.4f}, {dc[1]:+.4f}, {dc[2]:+.4f} "
          f"| {proj['f_error_percent']:+.4f} / {proj['principal_point_error_px']:.3f} "
          f"| {dp[0]:+.4f}, {dp[1]:+.4f}, {dp[2]:+.4f} "
          f"| {rms:.4f} / {mean:+.4f} / {p99:.4f} | {100 * (rms / t_rms - 1):+.1f} % |")
rms = np.array([r[0] for r in rows])
mean = np.array([r[1] for r in rows])
print(f"over {len(rows)} seeds: scan RMS {rms.mean():.4f} mm ({100 * (rms.mean() / t_rms - 1):+.1f} % "
      f"vs true), mean offset {mean.mean():+.4f} ± {mean.std(ddof=1) if len(mean) > 1 else 0:.4f} mm "
      f"(seed to seed), camera position error mean "
      f"{', '.join(f'{v:+.4f}' for v in np.mean([r[3] for r in rows], axis=0))} mm")
EOF
