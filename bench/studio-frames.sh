#!/usr/bin/env bash
# Frame times of the studio while it fuses a project's scans: the studio is
# started on a virtual X server (Xvfb, Mesa) with the project, the Fusion
# page's Fuse button is clicked with xdotool, and when the fusion has ended
# the frame-time summary per phase (frames, mean, 95th percentile, slowest,
# and the slowest frame's parts) that the studio keeps is printed.
#
#   bench/studio-frames.sh [PROJECT] [BUILD_DIR]
#
# PROJECT defaults to the eight aligned views of `make demo`
# (build/demo/demo.tarvelinproj).
set -euo pipefail

PROJECT=${1:-build/demo/demo.tarvelinproj}
BUILD=${2:-build/release}
STUDIO=$BUILD/apps/tarvelin-studio/tarvelin-studio
[ -f "$PROJECT" ] || { echo "no project $PROJECT: run 'make demo' first" >&2; exit 1; }
[ -x "$STUDIO" ] || { echo "no studio at $STUDIO: build it first" >&2; exit 1; }
PYTHON=$(command -v /usr/bin/python3 || command -v python3)
for tool in Xvfb xdotool; do
  command -v $tool > /dev/null || { echo "$tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

WORK=$(mktemp -d)
DISPLAY_NUMBER=$((90 + RANDOM % 100))
Xvfb :$DISPLAY_NUMBER -screen 0 1920x1080x24 -nolisten tcp > "$WORK/xvfb.log" 2>&1 &
XVFB=$!
STUDIO_PID=
cleanup() {
  [ -n "$STUDIO_PID" ] && kill "$STUDIO_PID" 2> /dev/null || true
  kill $XVFB 2> /dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
export DISPLAY=:$DISPLAY_NUMBER
sleep 1

${STUDIO_WRAPPER:-} "$STUDIO" --root "$WORK/root" --rig default --test-probe "$WORK/probe.json" "$PROJECT" \
  > "$WORK/studio.log" 2>&1 &
STUDIO_PID=$!

probe() {  # probe.py EXPRESSION: evaluates it on the probe's JSON (as p)
  $PYTHON - "$WORK/probe.json" "$1" << 'PY'
import json, sys
try:
    p = json.load(open(sys.argv[1]))
except Exception:
    p = {}
try:
    print(eval(sys.argv[2]))
except Exception:
    print("")
PY
}
wait_for() {  # wait_for EXPRESSION SECONDS
  for _ in $(seq 1 $((${2} * 10))); do
    [ "$(probe "$1")" = "True" ] && return 0
      kill -0 $STUDIO_PID 2> /dev/null || { tail -60 "$WORK/studio.log" >&2; exit 1; }
    sleep 0.1
  done
  echo "timed out waiting for: $1" >&2
  exit 1
}
click() {
  wait_for "'$1' in p.get('widgets', {})" 30
  local xy
  xy=$(probe "' '.join(str(v) for v in [p['widgets']['$1'][0] + p['widgets']['$1'][2] // 2, p['widgets']['$1'][1] + p['widgets']['$1'][3] // 2])")
  xdotool mousemove $xy
  sleep 0.2
  xdotool click 1
  sleep 0.5
}

wait_for "p.get('state', {}).get('scans', 0) > 0" 120
SCANS=$(probe "p['state']['scans']")
click tab_fusion
click fuse
wait_for "p['state']['fusion'] and p['state']['idle'] and 'fusion' in p['state'].get('frames', {})" 900
probe "'\n'.join('%-12s frames %5d  mean %7.1f ms  p95 %7.1f ms  max %7.1f ms  slowest: %s' % (k, v['frames'], v['meanMs'], v['p95Ms'], v['maxMs'], ', '.join('%s %.1f' % kv for kv in v['slowestFrameMs'].items())) for k, v in p['state']['frames'].items())"
echo "($SCANS scans of $PROJECT; Mesa $(glxinfo 2> /dev/null | sed -n 's/.*OpenGL renderer string: //p' || true))"
