#!/usr/bin/env bash
# Installs every Debian package Tarvelin needs to build, test and benchmark.
# Idempotent: runs apt-get only when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config ccache
  clang libclang-rt-14-dev          # fuzz targets (libFuzzer)
  libgtest-dev libgmock-dev libbenchmark-dev
  libstb-dev                        # image files
  libeigen3-dev                     # dense linear algebra
  libcminpack-dev                   # Levenberg–Marquardt (lmdif)
  libpugixml-dev                    # XML files and settings
  libcli11-dev nlohmann-json3-dev   # the tarvelin command and its reports
  libembree-dev                     # ray casting of the virtual rig (Embree 3)
  lib3mf-dev liblodepng-dev         # 3MF export with its PNG texture
  libopen3d-dev                     # screened Poisson fusion; mesh-file interoperability test
  libglfw3-dev libglew-dev          # the 3D view: windows, OpenGL context, extensions
  libegl-dev libegl-mesa0 libgl1-mesa-dri  # offscreen pictures: Mesa's EGL surfaceless platform, llvmpipe
  xvfb xauth xdotool                # tests of the window under a virtual X server
  libv4l-dev libturbojpeg0-dev      # live cameras over V4L2; MJPG frames
  libusb-1.0-0-dev                  # USB camera control channel (vendor control transfers)
  libudev-dev                       # video and USB device lists, device monitoring
  libxrandr-dev                     # monitors: display records and topology (with GLFW)
  libimgui-dev                      # the desktop application's user interface (GLFW + OpenGL3 back-ends)
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
