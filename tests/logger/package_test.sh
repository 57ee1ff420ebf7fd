#!/usr/bin/env bash
# The Debian package as a user gets it: built by CPack from the build tree, unpacked with
# dpkg-deb -x into a temporary root, its control fields and files checked, and its quorna-logger
# run once against the simulator (also from the package).
#   package_test.sh BUILD-DIR VERSION
set -euo pipefail
build=$1
version=$2
tmp=$(mktemp -d /tmp/quorna-package.XXXXXX)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log"; fail "cpack"; }
deb="$tmp/out/quorna_${version}_amd64.deb"
[ -f "$deb" ] || { ls "$tmp/out"; fail "no $deb"; }

# Control fields: Qt 6 Widgets required, unixODBC only recommended.
[ "$(dpkg-deb -f "$deb" Package)" = quorna ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version"
[ "$(dpkg-deb -f "$deb" Architecture)" = amd64 ] || fail "architecture"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends lacks libqt6widgets6: $depends"
grep -q 'adduser' <<<"$depends" || fail "Depends lacks adduser: $depends"
grep -q -i 'odbc' <<<"$depends" && fail "Depends names ODBC: $depends"
grep -q 'unixodbc' <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "Recommends lacks unixodbc"
dpkg-deb -e "$deb" "$tmp/control"
[ -x "$tmp/control/postinst" ] || fail "no postinst"
grep -q 'adduser --system' "$tmp/control/postinst" || fail "postinst makes no user"

# Files.
root="$tmp/root"
dpkg-deb -x "$deb" "$root"
for program in quorna quorna-logger quorna-metersim; do
  [ -x "$root/usr/bin/$program" ] || fail "usr/bin/$program"
done
[ -f "$root/usr/share/applications/quorna.desktop" ] || fail "desktop entry"
grep -q '^Exec=quorna$' "$root/usr/share/applications/quorna.desktop" || fail "desktop entry's Exec"
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/quorna.svg" || fail "icon"
unit="$root/usr/lib/systemd/system/quorna-logger.service"
[ -f "$unit" ] || fail "systemd unit"
for line in 'ExecStart=/usr/bin/quorna-logger' 'User=quorna' 'WorkingDirectory=/var/lib/quorna' 'Restart=on-failure' \
            'RestartPreventExitStatus=2' 'Type=notify' 'WatchdogSec=5min' 'ExecReload=/bin/kill -HUP $MAINPID'; do
  grep -qx "$line" "$unit" || fail "the unit lacks $line"
done
if objdump -p "$root/usr/bin/quorna-logger" | grep NEEDED | grep -q -i 'qt'; then
  fail "quorna-logger links Qt"
fi
"$root/usr/bin/quorna-logger" --version | grep -qx "quorna-logger $version" || fail "--version"

# The unpacked logger, once, against the unpacked simulator.
"$root/usr/bin/quorna-metersim" --link "$tmp/ttyMETERS" --meter 3:230 --drift off >"$tmp/metersim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -e "$tmp/ttyMETERS" ] && break; sleep 0.1; done
[ -e "$tmp/ttyMETERS" ] || fail "the simulator did not start"
mkdir "$tmp/var"
printf 'interval 1\nport COM1:\nscan 3\nsave_file %s\nformat 1\n' "$tmp/var/readings.csv" >"$tmp/var/Quorna.cfg"
rc=0
QUORNA_COM1="$tmp/ttyMETERS" "$root/usr/bin/quorna-logger" --once --config "$tmp/var/Quorna.cfg" 2>"$tmp/logger.err" || rc=$?
[ "$rc" -eq 0 ] || { cat "$tmp/logger.err"; fail "quorna-logger --once exited $rc"; }
[ "$(wc -l <"$tmp/var/readings.csv")" -eq 1 ] || fail "not one line logged"
line=$(tr -d '\r' <"$tmp/var/readings.csv")
[ "$(awk -F, '{print NF}' <<<"$line")" -eq 44 ] || fail "not 44 fields: $line"
[ "$(cut -d, -f2 <<<"$line")" = 3 ] || fail "not meter 3: $line"
echo "package: $(basename "$deb") unpacked, its logger logged: $line"
