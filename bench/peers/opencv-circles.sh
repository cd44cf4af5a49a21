#!/usr/bin/env bash
# Our calibration-target detector against OpenCV's findCirclesGrid, in one
# run on one core: bench/TargetAccuracy renders the shipped plate at 20°–50°
# tilt on a 1920 × 1200 rig camera (σ = 2 noise), detects it (with its marker
# cell) and writes the same poses printed as a plain grid of the same marks
# with their truth; OpenCV (python3-opencv, installed here when missing; a
# comparison only, never linked into Tarvelin) then finds the plain grids.
# Both are scored against the rig's truth (the projection of each circle's
# centre) and timed per image (image loading excluded).
#
#   bench/peers/opencv-circles.sh            (BUILD=build/release by default)
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD=${BUILD:-build/release}
OUT=${OUT:-$BUILD/target-peers}
. bench/peers/need-opencv.sh

cmake --build "$BUILD" --target TargetAccuracy -j2
rm -rf "$OUT"
mkdir -p "$OUT"
taskset -c 0 "$BUILD/bench/TargetAccuracy" --out "$OUT" --repeat 5 | tee "$OUT/ours.txt"
echo
OMP_NUM_THREADS=1 taskset -c 0 $PY bench/peers/opencv_circles.py "$OUT"
