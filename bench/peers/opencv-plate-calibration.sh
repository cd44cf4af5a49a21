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
#
#   bench/peers/opencv-plate-calibration.sh   (BUILD=build/release, VIEWS=8)
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD=${BUILD:-build/release}
OUT=${OUT:-$BUILD/calibration-peers}
VIEWS=${VIEWS:-8}
. bench/peers/need-opencv.sh

cmake --build "$BUILD" --target tarvelin -j2
rm -rf "$OUT"
"$BUILD/apps/tarvelin/tarvelin" calibrate --rig default --target plate --views "$VIEWS" --plain-copies --out "$OUT/ours" | tee "$OUT.ours.txt"
TRUE=share/rigs/default/rig.tarvelinsetup
OMP_NUM_THREADS=1 $PY bench/peers/opencv_plate_calibration.py "$OUT/ours" $TRUE "$OUT/same"
"$BUILD/apps/tarvelin/tarvelin" calibrate --images "$OUT/same" --setup $TRUE --target plate --views "$VIEWS" \
  --out "$OUT/ours-same" > "$OUT.ours-same.txt"
OMP_NUM_THREADS=1 $PY bench/peers/opencv_plate_calibration.py "$OUT/ours" $TRUE "$OUT/same" "$OUT/ours-same"
