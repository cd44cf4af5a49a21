#!/usr/bin/env bash
# Reading one binary PLY file: Tarvelin's reader (MeshFileBenchmark's
# BM_LoadPlyFile) against Open3D's read_triangle_mesh, in one run on the same
# file. Open3D comes from Debian's python3-open3d, installed here if missing;
# it is a comparison only and never linked into Tarvelin.
# Usage: bench/peers/ply-read.sh [FILE.ply]   (default: build/demo/fused.ply, from `make demo`)
set -euo pipefail
cd "$(dirname "$0")/../.."
file=${1:-build/demo/fused.ply}
[ -f "$file" ] || { echo "No $file: run 'make demo' first or name a PLY file." >&2; exit 1; }
if ! /usr/bin/python3 -c "import open3d" 2>/dev/null; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get install -y -qq --no-install-recommends python3-open3d >/dev/null
fi
bench=build/release/bench/MeshFileBenchmark
[ -x "$bench" ] || cmake --build build/release --target MeshFileBenchmark
echo "== Tarvelin (best of 10)"
TARVELIN_PLY_FILE="$file" "$bench" --benchmark_filter='BM_LoadPlyFile$' --benchmark_repetitions=10 \
  --benchmark_report_aggregates_only=true 2>/dev/null | grep -E "_min|_mean|_median|LoadPlyFile " || true
echo "== Open3D read_triangle_mesh (best of 10)"
/usr/bin/python3 - "$file" <<'PY'
import sys, time
import open3d as o3d
o3d.utility.set_verbosity_level(o3d.utility.VerbosityLevel.Error)
times = []
for _ in range(10):
    start = time.perf_counter()
    mesh = o3d.io.read_triangle_mesh(sys.argv[1])
    times.append(time.perf_counter() - start)
print(f"min {min(times)*1e3:.1f} ms, median {sorted(times)[5]*1e3:.1f} ms, "
      f"{len(mesh.vertices)} vertices, {len(mesh.triangles)} triangles")
PY
