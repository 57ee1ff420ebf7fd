#!/usr/bin/env bash
# quorna-logger's systemd units as the package installs them: `systemd-analyze verify` and the
# offline security score (at most 2.0) of quorna-logger.service and of the template
# quorna-logger@.service; then two instances of the template, north and south, each on a simulated
# bus of its own. systemd itself cannot run here: the template's ExecStart line, with %i the
# instance name, the package's root for / and a temporary folder for /var/lib/quorna, runs as two
# processes of this test in their WorkingDirectory, on the test clock for three logging moments,
# until SIGTERM; each must have logged exactly its own meter's lines into its own folder, and its
# spool lie there too.
#   package_units_test.sh DEB-DIR VERSION
set -euo pipefail
deb="$1/quorna-logger_$2_amd64.deb"
sim_deb="$1/quorna-metersim_$2_amd64.deb"
tmp=$(mktemp -d /tmp/quorna-units.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

[ -f "$deb" ] || fail "no $deb"
root="$tmp/root"
dpkg-deb -x "$deb" "$root"
dpkg-deb -x "$sim_deb" "$root"
units="$root/usr/lib/systemd/system"

if ! command -v systemd-analyze >/dev/null; then
  echo "systemd-analyze is missing (package systemd): the units were not verified nor scored"
else
  # verify resolves the units' dependencies and commands in the root it is given: the package's,
  # with systemd's own targets, slices and sockets of this machine and /bin/kill for ExecReload.
  vroot="$tmp/verify-root"
  dpkg-deb -x "$deb" "$vroot"
  cp -n /lib/systemd/system/*.target /lib/systemd/system/*.slice /lib/systemd/system/*.socket \
    "$vroot/usr/lib/systemd/system/" 2>/dev/null || true
  mkdir -p "$vroot/bin"
  cp /bin/kill "$vroot/bin/kill"
  for unit in quorna-logger.service quorna-logger@.service; do
    # A template is verified as its instance quorna-logger@north.service.
    name=$unit
    [ "$unit" = quorna-logger@.service ] && name=quorna-logger@north.service
    if ! systemd-analyze verify --man=no --root="$vroot" "$name" >"$tmp/verify.out" 2>&1 || [ -s "$tmp/verify.out" ]; then
      cat "$tmp/verify.out"
      fail "systemd-analyze verify $name"
    fi
    systemd-analyze security --offline=yes --root="$vroot" "$name" >"$tmp/security.out" 2>&1 || true
    score=$(sed -n -E 's/.*Overall exposure level for [^:]*: ([0-9.]+) .*/\1/p' "$tmp/security.out")
    [ -n "$score" ] || { cat "$tmp/security.out"; fail "no security score for $name"; }
    awk -v s="$score" 'BEGIN { exit !(s <= 2.0) }' || { grep '✗' "$tmp/security.out"; fail "$name scores $score, more than 2.0"; }
    echo "$name: verified, exposure $score"
  done
fi

# The template's instances, as systemd would start them.
template="$units/quorna-logger@.service"
state="$tmp/state"
exec_start=$(sed -n 's/^ExecStart=//p' "$template")
working_dir=$(sed -n 's/^WorkingDirectory=//p' "$template")
[ -n "$exec_start" ] && [ -n "$working_dir" ] || fail "the template lacks ExecStart or WorkingDirectory"
instance() {  # instance NAME TEXT: TEXT of the template for the instance NAME, in the test's folders
  sed -e "s|%i|$1|g" -e "s|/var/lib/quorna|$state|g" -e "s|^/usr/bin/|$root/usr/bin/|" <<<"$2"
}
declare -A meter=([north]=3 [south]=5)
# The 42 currents of the simulator's Branch meters 3 and 5 without drift.
declare -A amps=(
  [north]=1.606,2.525,3.444,4.363,5.282,6.201,7.120,8.039,1.958,2.877,3.796,4.715,5.634,6.553,7.472,8.391,2.310,3.229,4.148,5.067,5.986,6.905,7.824,1.743,2.662,3.581,4.500,5.419,6.338,7.257,8.176,2.095,3.014,3.933,4.852,5.771,6.690,7.609,1.528,13.800,3.366,4.285
  [south]=8.064,1.983,2.902,3.821,4.740,5.659,6.578,7.497,8.416,2.335,3.254,4.173,5.092,6.011,6.930,7.849,1.768,2.687,3.606,4.525,5.444,6.363,7.282,8.201,2.120,3.039,3.958,4.877,5.796,6.715,7.634,1.553,2.472,3.391,4.310,5.229,6.148,7.067,7.986,13.800,2.824,3.743
)
for name in north south; do
  dir=$(instance $name "$working_dir")
  [ "$dir" = "$state/$name" ] || fail "instance $name works in $dir"
  mkdir -p "$dir"
  "$root/usr/bin/quorna-metersim" --link "$tmp/tty-$name" --meter "${meter[$name]}:230" --drift off >"$tmp/sim-$name.out" 2>&1 &
  pids+=($!)
  printf 'interval 1\nport COM1:\nscan 5\nsave_file %s/readings.csv\nformat 1\n' "$dir" >"$dir/Quorna.cfg"
done
for name in north south; do
  for _ in $(seq 50); do [ -e "$tmp/tty-$name" ] && break; sleep 0.1; done
  [ -e "$tmp/tty-$name" ] || fail "the simulator of $name did not start"
done
# 2026-03-07 14:15:00 local time, three moments a minute apart, 300 ms each.
epoch=$(date -d '2026-03-07 14:15:00' +%s)
declare -A logger
for name in north south; do
  command=$(instance $name "$exec_start")
  # shellcheck disable=SC2086
  (cd "$state/$name" && QUORNA_COM1="$tmp/tty-$name" QUORNA_LOGGER_TEST_CLOCK="$epoch 60 300 3" exec $command 2>"$tmp/$name.err") &
  logger[$name]=$!
  pids+=($!)
done
for name in north south; do
  for _ in $(seq 600); do  # the scan of the silent addresses first
    [ -f "$state/$name/readings.csv" ] && [ "$(wc -l <"$state/$name/readings.csv")" -ge 3 ] && break
    sleep 0.1
  done
done
sleep 1  # a fourth moment would come now if the clock did not stand still
for name in north south; do
  kill -TERM "${logger[$name]}"
  rc=0
  wait "${logger[$name]}" || rc=$?
  [ "$rc" -eq 0 ] || { cat "$tmp/$name.err"; fail "instance $name exited $rc"; }
  grep -q 'info stopping$' "$tmp/$name.err" || { cat "$tmp/$name.err"; fail "instance $name did not say stopping"; }
  file="$state/$name/readings.csv"
  [ -f "$file" ] || { cat "$tmp/$name.err"; fail "instance $name logged nothing"; }
  for minute in 15 16 17; do
    printf '03/07/2026 14:%s:00,%s,%s\n' "$minute" "${meter[$name]}" "${amps[$name]}"
  done >"$tmp/$name.want"
  tr -d '\r' <"$file" | diff "$tmp/$name.want" - || { cat "$tmp/$name.err"; fail "instance $name's lines"; }
  [ -f "$state/$name/Quorna-spool.db" ] || fail "instance $name's spool is not in its folder"
  echo "instance $name: $(head -1 "$file" | tr -d '\r')"
done
