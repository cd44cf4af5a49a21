#!/usr/bin/env bash
# The 3D view's frame rate beside Open3D's visualizer, in one run: the same
# mesh, the same window size, the same software renderer (Mesa's llvmpipe
# under one virtual X server). Open3D comes from Debian (python3-open3d) and
# is only a comparison: it is never linked into Tarvelin.
#
#   bench/peers/viewer-frame-rate.sh [MESH] [WIDTH HEIGHT FRAMES]
#
# MESH defaults to the demo's fused mesh (build/demo/fused.obj, `make demo`).
set -euo pipefail
cd "$(dirname "$0")/../.."
MESH=${1:-build/demo/fused.obj}
WIDTH=${2:-1280}
HEIGHT=${3:-960}
FRAMES=${4:-120}
BENCH=build/release/bench/ViewerFrameRate

if ! dpkg-query -W -f='${Status}' python3-open3d 2>/dev/null | grep -q "install ok installed"; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends python3-open3d
fi
[ -f "$MESH" ] || { echo "no $MESH: run make demo first (or give a mesh file)" >&2; exit 1; }
[ -x "$BENCH" ] || { echo "no $BENCH: build the target ViewerFrameRate" >&2; exit 1; }

# Both renderers get the same number of llvmpipe rasteriser threads.
export LP_NUM_THREADS=${LP_NUM_THREADS:-$(nproc)}
echo "LP_NUM_THREADS=$LP_NUM_THREADS, $(nproc) cores"
xvfb-run -a -s "-screen 0 $((WIDTH + 64))x$((HEIGHT + 64))x24" bash -c "
  echo '== Tarvelin, offscreen (EGL surfaceless)'
  $BENCH '$MESH' --width $WIDTH --height $HEIGHT --frames $FRAMES
  echo '== Tarvelin, GLFW window'
  $BENCH '$MESH' --width $WIDTH --height $HEIGHT --frames $FRAMES --window
  echo '== Open3D visualizer (python3-open3d)'
  /usr/bin/python3 bench/peers/open3d_visualizer.py '$MESH' $WIDTH $HEIGHT $FRAMES
"
