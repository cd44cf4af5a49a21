#!/usr/bin/env bash
# Our flat-plate calibration against OpenCV's calibrateCamera on
# findCirclesGrid centres, on the same images, in one run: `tarvelin
# calibrate --target plate` renders the shipped plate in VIEWS poses on the
# default rig's camera (σ = 2 noise), calibrates and keeps the images;
# OpenCV (python3-opencv, installed here when missing; a comparison only,
# never linked into Tarvelin) then finds the grids in the same poses
# printed plain (the same marks without the marker cell's rings, which its
# blob detector does not take; same noise seed) and
# calibrates (k1 k2 p1 p2 k3, as our OCV model). Both are scored against the
# rig's true camera (f, principal point). For a fair comparison ours runs
# again on only the views whose grid OpenCV found (`--images` on those).
# One run is one draw of the noise: the comparison runs once per seed of
# SEEDS and per view count of VIEWS and ends with the RMS errors over the
# runs (if they fall as 1/sqrt(views) they are noise, else bias).
#
#   bench/peers/opencv-plate-calibration.sh
#     (BUILD=build/release, VIEWS="8", SEEDS="1"; e.g. SEEDS="1 2 3 4 5" VIEWS="8 24")
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD=${BUILD:-build/release}
OUT=${OUT:-$BUILD/calibration-peers}
VIEWS=${VIEWS:-8}
SEEDS=${SEEDS:-1}
. bench/peers/need-opencv.sh

cmake --build "$BUILD" --target tarvelin -j2
rm -rf "$OUT"
mkdir -p "$OUT"
TRUE=share/rigs/default/rig.tarvelinsetup
for views in $VIEWS; do
  for seed in $SEEDS; do
    run="$OUT/v$views-s$seed"
    echo "== $views views, seed $seed"
    "$BUILD/apps/tarvelin/tarvelin" calibrate --rig default --target plate --views "$views" --seed "$seed" \
      --plain-copies --out "$run/ours" > "$run.ours.txt"
    OMP_NUM_THREADS=1 $PY bench/peers/opencv_plate_calibration.py "$run/ours" $TRUE "$run/same"
    "$BUILD/apps/tarvelin/tarvelin" calibrate --images "$run/same" --setup $TRUE --target plate \
      --views "$views" --out "$run/ours-same" > "$run.ours-same.txt"
    SEED=$seed OMP_NUM_THREADS=1 $PY bench/peers/opencv_plate_calibration.py "$run/ours" $TRUE "$run/same" \
      "$run/ours-same" "$OUT/runs.jsonl"
  done
done
echo "== RMS over the runs"
$PY bench/peers/opencv_plate_calibration.py --summary "$OUT/runs.jsonl"
