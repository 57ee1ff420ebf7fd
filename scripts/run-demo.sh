#!/usr/bin/env bash
# Builds Quorna and starts it against a simulated panel, so that the window comes up, scans the
# bus and shows live values within seconds.
#
#   scripts/run-demo.sh
#
# The panel: a Branch meter at 3, a Circuit meter model 236 at 7, one of model 235 at 9 and a
# Temperature meter at 2, on a pseudo-terminal that Quorna opens as "COM1:".
# Without a display ($DISPLAY and $WAYLAND_DISPLAY unset) the program runs under Xvfb, saves a
# screenshot of its window after the scan, says where it is, and stops.
# Closing Quorna stops the simulator.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QUORNA_DEMO_BUILD:-$here/build-run}"
work="$build/demo"
screenshot="$build/demo/quorna-demo.png"
shot_after="${QUORNA_DEMO_SECONDS:-15}"

# --- What a fresh Debian 12 lacks -------------------------------------------------------------
packages=(build-essential cmake qt6-base-dev qt6-qpa-plugins libgl-dev unixodbc-dev libsqlite3-dev libcivetweb-dev
          fonts-dejavu-core xvfb xauth python3)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "run-demo: installing ${missing[*]}"
  if [[ $(id -u) -eq 0 ]]; then
    as_root=()
  elif command -v sudo >/dev/null; then
    as_root=(sudo)
  else
    echo "run-demo: please install as root: apt-get install ${missing[*]}" >&2
    exit 1
  fi
  "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq "${missing[@]}"
fi

# --- Build (its own tree, no sanitizers, no tests) ---------------------------------------------
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUORNA_BUILD_GUI=ON -DQUORNA_BUILD_TESTS=OFF \
      -DQUORNA_SANITIZE=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target quorna quorna-metersim

# --- The simulated panel -----------------------------------------------------------------------
mkdir -p "$work"
link="$work/ttyQUORNA"
# The same meters are also served behind two Ethernet gateways on the loopback (Modbus TCP and RTU
# over TCP); the comms dialog's COM2 and COM3 buttons stand for them.
"$build/bin/quorna-metersim" --link "$link" --meter 3:230 --meter 7:236 --meter 9:235 --meter 2:600 \
    --tcp 0 --rtu-tcp 0 >"$work/metersim.log" 2>&1 &
sim_pid=$!
xvfb_pid=""
cleanup() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  if [[ -n $xvfb_pid ]]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT INT TERM
for _ in $(seq 100); do [[ -e $link ]] && break; sleep 0.05; done
[[ -e $link ]] || { echo "run-demo: the simulator did not come up (see $work/metersim.log)" >&2; exit 1; }
for _ in $(seq 100); do grep -q '^rtu+tcp://' "$work/metersim.log" && break; sleep 0.05; done
QUORNA_COM2=$(grep -m1 '^tcp://' "$work/metersim.log" || true)
QUORNA_COM3=$(grep -m1 '^rtu+tcp://' "$work/metersim.log" || true)
export QUORNA_COM2 QUORNA_COM3
echo "run-demo: COM2: is the Modbus TCP gateway $QUORNA_COM2, COM3: the RTU-over-TCP gateway $QUORNA_COM3"

# --- The working directory: Quorna.cfg names COM1:, which is the simulator's line -------------
cat >"$work/Quorna.cfg" <<CFG
# Demo settings: COM1: is the simulated panel (COM2: and COM3: reach it through gateways)
port COM1:
speed 2048
parity 0
scan 10
CFG
export QUORNA_COM1="$link"
cd "$work"

if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
  echo "run-demo: no display; running under Xvfb and taking a screenshot after ${shot_after} s"
  rm -f "$screenshot"
  n=99
  while [[ -e /tmp/.X${n}-lock ]]; do n=$((n + 1)); done
  display=":$n"
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [[ -e /tmp/.X11-unix/X${display#:} ]] && break; sleep 0.05; done
  DISPLAY="$display" QT_QPA_PLATFORM=xcb QUORNA_SCREENSHOT="$screenshot" QUORNA_SCREENSHOT_AFTER="$shot_after" \
      "$build/bin/quorna"
  if [[ -s $screenshot ]]; then
    echo "run-demo: screenshot of the window: $screenshot"
  else
    echo "run-demo: no screenshot was saved" >&2
    exit 1
  fi
else
  echo "run-demo: starting Quorna in $work (close its window to stop the demo)"
  "$build/bin/quorna"
fi
