#!/usr/bin/env bash
# The hand-written "Quorna.cfg" files of the manual's "Logging from a box without a screen", taken
# out of the manual (each code block whose first line is "# Quorna.cfg example: NAME"), each run
# with quorna-logger --once on the test clock (2026-03-07 14:15:00):
#   serial port   against the simulator on a pseudo-terminal, for /dev/ttyUSB0
#   gateway       against the simulator's Modbus TCP port, for tcp://10.0.4.20:502
#   PostgreSQL    against the test PostgreSQL server of scripts/odbc-test-env.sh, for the data
#                 source plant (its table made by the manual's CREATE TABLE, under a name of the
#                 test's); skipped with a line when QUORNA_TEST_PG_DSN names no ready server
# /var/lib/quorna becomes a temporary folder. Each must exit 0 and log exactly the lines expected.
#   manual_configurations_test.sh MANUAL.md QUORNA-LOGGER QUORNA-METERSIM
set -euo pipefail
manual=$1
logger=$2
metersim=$3
# A short folder: a serial device's path in "Quorna.cfg" is kept to 31 characters.
tmp=$(mktemp -d /tmp/qm.XXXXXX)
pids=()
table="manual_readings_$$"
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  if [ -n "${QUORNA_TEST_PG_DSN:-}" ]; then
    echo "DROP TABLE IF EXISTS $table" | isql -b "$QUORNA_TEST_PG_DSN" "$QUORNA_TEST_PG_USER" "$QUORNA_TEST_PG_PASSWORD" >/dev/null 2>&1 || true
  fi
  [ -n "${KEEP:-}" ] || rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# block FIRST-LINE-PATTERN: the manual's code block (indented by four blanks) that starts with a
# line matching the pattern, without its indent.
block() {
  awk -v first="$1" '
    inside && /^    / { print substr($0, 5); next }
    inside { exit }
    $0 ~ "^    " first { inside = 1; print substr($0, 5) }' "$manual"
}
example() {  # example NAME: the example's settings with the test's folder for /var/lib/quorna
  local text
  text=$(block "# Quorna.cfg example: $1\$")
  [ -n "$text" ] || fail "the manual has no example \"$1\""
  sed "s|/var/lib/quorna|$tmp/var|g" <<<"$text"
}
start_simulator() {  # start_simulator LINK ARGS...: waits for its pseudo-terminal or port
  "$metersim" --drift off --exit-with-parent "${@:2}" >"$tmp/sim.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    [ -e "$1" ] && return
    sleep 0.1
  done
  cat "$tmp/sim.out"
  fail "the simulator did not start"
}
epoch=$(date -d '2026-03-07 14:15:00' +%s)
run_once() {  # run_once NAME: the logger once on $tmp/var/Quorna.cfg
  local rc=0
  QUORNA_LOGGER_TEST_CLOCK="$epoch 60 20 1" "$logger" --once --config "$tmp/var/Quorna.cfg" 2>"$tmp/$1.err" || rc=$?
  [ "$rc" -eq 0 ] || { cat "$tmp/var/Quorna.cfg" "$tmp/$1.err"; fail "example $1: quorna-logger --once exited $rc"; }
}
# The 42 currents of the simulator's Branch meters without drift, by address.
declare -A amps=(
  [1]=2.148,3.067,3.986,4.905,5.824,6.743,7.662,1.581,2.500,3.419,4.338,5.257,6.176,7.095,8.014,1.933,2.852,3.771,4.690,5.609,6.528,7.447,8.366,2.285,3.204,4.123,5.042,5.961,6.880,7.799,1.718,2.637,3.556,4.475,5.394,6.313,7.232,8.151,2.070,13.800,3.908,4.827
  [5]=8.064,1.983,2.902,3.821,4.740,5.659,6.578,7.497,8.416,2.335,3.254,4.173,5.092,6.011,6.930,7.849,1.768,2.687,3.606,4.525,5.444,6.363,7.282,8.201,2.120,3.039,3.958,4.877,5.796,6.715,7.634,1.553,2.472,3.391,4.310,5.229,6.148,7.067,7.986,13.800,2.824,3.743
  [9]=6.980,7.899,1.818,2.737,3.656,4.575,5.494,6.413,7.332,8.251,2.170,3.089,4.008,4.927,5.846,6.765,7.684,1.603,2.522,3.441,4.360,5.279,6.198,7.117,8.036,1.955,2.874,3.793,4.712,5.631,6.550,7.469,8.388,2.307,3.226,4.145,5.064,5.983,6.902,13.800,1.740,2.659
  [12]=6.167,7.086,8.005,1.924,2.843,3.762,4.681,5.600,6.519,7.438,8.357,2.276,3.195,4.114,5.033,5.952,6.871,7.790,1.709,2.628,3.547,4.466,5.385,6.304,7.223,8.142,2.061,2.980,3.899,4.818,5.737,6.656,7.575,8.494,2.413,3.332,4.251,5.170,6.089,13.800,7.927,1.846
)
mkdir -p "$tmp/var"

# The serial port: two Branch meters on the pseudo-terminal that stands for /dev/ttyUSB0.
start_simulator "$tmp/tty" --link "$tmp/tty" --meter 1:230 --meter 12:230
example "serial port" | sed "s|/dev/ttyUSB0|$tmp/tty|" >"$tmp/var/Quorna.cfg"
grep -qx "port $tmp/tty" "$tmp/var/Quorna.cfg" || fail "the serial example names no /dev/ttyUSB0"
run_once serial
file="$tmp/var/north.csv"
[ -f "$file" ] || { cat "$tmp/serial.err"; fail "the serial example wrote no north.csv"; }
printf '03/07/2026 14:15:00,1,%s\n03/07/2026 14:15:00,12,%s\n' "${amps[1]}" "${amps[12]}" >"$tmp/serial.want"
tr -d '\r' <"$file" | diff "$tmp/serial.want" - || { cat "$tmp/serial.err"; fail "the serial example's lines"; }
echo "serial port example: $(head -1 "$file" | cut -c1-60)..."
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true

# The gateway: the simulator's Modbus TCP port stands for 10.0.4.20:502, meter 5 behind it.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$metersim" --drift off --exit-with-parent --tcp "$port" --listen 127.0.0.1 --meter 5:230 >"$tmp/sim-tcp.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
rm -f "$tmp/var/Quorna.cfg"
example gateway | sed "s|tcp://10.0.4.20:502|tcp://127.0.0.1:$port|" >"$tmp/var/Quorna.cfg"
grep -qx "port tcp://127.0.0.1:$port" "$tmp/var/Quorna.cfg" || fail "the gateway example names no tcp://10.0.4.20:502"
run_once gateway
file="$tmp/var/south.txt"
[ -f "$file" ] || { cat "$tmp/gateway.err"; fail "the gateway example wrote no south.txt"; }
printf '03/07/2026 14:15:00\t5\t%s\n' "$(tr ',' '\t' <<<"${amps[5]}")" >"$tmp/gateway.want"
tr -d '\r' <"$file" | diff "$tmp/gateway.want" - || fail "the gateway example's line"
echo "gateway example: $(head -1 "$file" | tr -d '\r' | cut -f1-4)"

# PostgreSQL: the manual's table, the manual's links, two meters.
if [ -z "${QUORNA_TEST_PG_DSN:-}" ]; then
  echo "no test PostgreSQL server (QUORNA_TEST_PG_DSN): the PostgreSQL example was not run"
  exit 0
fi
sql() { isql -b -d'|' -x0x7c "$QUORNA_TEST_PG_DSN" "$QUORNA_TEST_PG_USER" "$QUORNA_TEST_PG_PASSWORD" 2>&1; }
create=$(block "CREATE TABLE readings" | tr '\n' ' ' | sed "s/CREATE TABLE readings/CREATE TABLE $table/")
[ -n "$create" ] || fail "the manual has no CREATE TABLE readings"
echo "DROP TABLE IF EXISTS $table" | sql >/dev/null
echo "$create" | sql >"$tmp/create.out" || { cat "$tmp/create.out"; fail "the manual's CREATE TABLE"; }
start_simulator "$tmp/tty" --link "$tmp/tty" --meter 1:230 --meter 9:230
rm -f "$tmp/var/Quorna.cfg"
example PostgreSQL | sed -e "s|/dev/ttyUSB0|$tmp/tty|" -e "s|^dsn plant$|dsn $QUORNA_TEST_PG_DSN|" \
  -e "s|^table readings$|table $table|" -e "s|^user quorna$|user $QUORNA_TEST_PG_USER|" \
  -e "s|^passwd change-me$|passwd $QUORNA_TEST_PG_PASSWORD|" >"$tmp/var/Quorna.cfg"
[ "$(grep -c '^link ' "$tmp/var/Quorna.cfg")" -ge 4 ] || fail "the PostgreSQL example has no links"
run_once postgresql
echo "SELECT meter, location, date_time, amps1, amps2, amps3 FROM $table ORDER BY meter" | sql | tr -d '\r' >"$tmp/pg.got"
# real columns, as PostgreSQL prints them (6.980 is 6.98).
printf '1|Plant 7|2026-03-07 14:15:00|2.148|3.067|3.986\n9|Plant 7|2026-03-07 14:15:00|6.98|7.899|1.818\n' >"$tmp/pg.want"
grep -v '^SQL>' "$tmp/pg.got" | grep '|' | diff "$tmp/pg.want" - || { cat "$tmp/pg.got" "$tmp/postgresql.err"; fail "the PostgreSQL example's rows"; }
echo "PostgreSQL example: $(head -1 "$tmp/pg.want")"
