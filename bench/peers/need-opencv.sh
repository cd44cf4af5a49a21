# Sourced by the OpenCV peer scripts: sets PY to Debian's Python (which
# python3-opencv installs into, not a pyenv or venv one) and installs
# OpenCV there when it is missing. A comparison only, never a dependency.
PY=/usr/bin/python3
if ! $PY -c "import cv2" 2>/dev/null; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends python3-opencv python3-numpy
fi
