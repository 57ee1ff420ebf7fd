#!/usr/bin/env bash
# The three Debian packages as a user gets them (built by package_build.sh into DEB-DIR): their
# control fields, the logger's dependencies (no Qt, no X, and what they add to a minimal Debian),
# their files (stripped, hardened programs, copyright, changelog, icons, AppStream metainfo),
# unpacked with dpkg-deb -x into a temporary root, and the unpacked quorna-logger run once against
# the unpacked simulator.
#   package_test.sh DEB-DIR VERSION
set -euo pipefail
debs=$(readlink -f "$1")  # apt-get takes a package file by a path that starts with /
version=$2
tmp=$(mktemp -d /tmp/quorna-package.XXXXXX)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

for package in quorna quorna-logger quorna-metersim; do
  deb="$debs/${package}_${version}_amd64.deb"
  [ -f "$deb" ] || { ls "$debs"; fail "no $deb"; }
  [ "$(dpkg-deb -f "$deb" Package)" = "$package" ] || fail "$package: package name"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$package: version"
  [ "$(dpkg-deb -f "$deb" Architecture)" = amd64 ] || fail "$package: architecture"
  [ "$(dpkg-deb -f "$deb" Maintainer)" = "Quorna developers <quorna@example.org>" ] || fail "$package: maintainer"
  # The long description says more than the summary, and not the summary again.
  description=$(dpkg-deb -f "$deb" Description)
  summary=$(head -1 <<<"$description")
  [ "$(wc -l <<<"$description")" -ge 3 ] || fail "$package: no long description"
  tail -n +2 <<<"$description" | grep -qiF "$summary" && fail "$package: the long description repeats the summary"
  dpkg-deb -x "$deb" "$tmp/root"
  dpkg-deb -x "$deb" "$tmp/$package"
  # copyright and the Debian changelog, compressed without a time stamp, in every package.
  doc="$tmp/$package/usr/share/doc/$package"
  grep -q '^License: Expat' "$doc/copyright" || fail "$package: copyright"
  zcat "$doc/changelog.gz" | head -1 | grep -qx "quorna ($version) unstable; urgency=medium" || fail "$package: changelog"
done
deb_logger="$debs/quorna-logger_${version}_amd64.deb"
deb_window="$debs/quorna_${version}_amd64.deb"

# Which package holds which program.
[ "$(find "$tmp/quorna-logger" -type f -path '*/bin/*' -printf '%f\n')" = quorna-logger ] || fail "quorna-logger's programs"
[ "$(find "$tmp/quorna" -type f -path '*/bin/*' -printf '%f\n')" = quorna ] || fail "quorna's programs"
[ "$(find "$tmp/quorna-metersim" -type f -path '*/bin/*' -printf '%f\n')" = quorna-metersim ] || fail "quorna-metersim's programs"
for f in usr/lib/systemd/system/quorna-logger.service usr/lib/systemd/system/quorna-logger@.service \
         usr/share/man/man1/quorna-logger.1.gz usr/share/man/man5/Quorna.cfg.5.gz; do
  [ -f "$tmp/quorna-logger/$f" ] || fail "quorna-logger lacks $f"
done
[ -f "$tmp/quorna-metersim/usr/share/man/man1/quorna-metersim.1.gz" ] || fail "quorna-metersim lacks its manual page"

# Control fields: Qt 6 Widgets for the window only; the logger needs no Qt and no X at all.
depends=$(dpkg-deb -f "$deb_window" Depends)
grep -q 'libqt6widgets6' <<<"$depends" || fail "quorna's Depends lacks libqt6widgets6: $depends"
depends=$(dpkg-deb -f "$deb_logger" Depends)
echo "quorna-logger Depends: $depends"
grep -q 'adduser' <<<"$depends" || fail "quorna-logger's Depends lacks adduser: $depends"
grep -q 'libsqlite3-0' <<<"$depends" || fail "quorna-logger's Depends lacks libsqlite3-0: $depends"
if grep -Eiq 'qt|libx|xcb|wayland|libgl|libegl|opengl|mesa|gtk|gdk|fontconfig|freetype|icu|dbus' <<<"$depends"; then
  fail "quorna-logger depends on a Qt, X or graphics library: $depends"
fi
grep -q -i 'odbc' <<<"$depends" && fail "quorna-logger's Depends names ODBC: $depends"
grep -q 'unixodbc' <<<"$(dpkg-deb -f "$deb_logger" Recommends)" || fail "quorna-logger's Recommends lacks unixodbc"
needed=$(objdump -p "$tmp/quorna-logger/usr/bin/quorna-logger" | grep NEEDED)
if grep -Eqi 'qt|libX|xcb|libGL' <<<"$needed"; then
  fail "quorna-logger links Qt or X"
fi

# What the logger adds to a minimal Debian 12, as apt would install it there: the minimal system is
# what debootstrap --variant=minbase makes, every package of priority required and every essential
# one with what they depend on (apt-get -s against an empty dpkg status); apt-get -s then installs
# the package against a dpkg status listing just those, without recommends, and the packages it
# would unpack, the logger itself excepted, are counted. Without package lists (apt-get update
# never run) it cannot be computed.
if apt-cache show libc6 >/dev/null 2>&1; then
  : >"$tmp/empty-status"
  apt-cache dumpavail >"$tmp/available"
  awk -v RS= '/\nPriority: required|\nEssential: yes/ { match($0, /^Package: [^\n]+/); print substr($0, 10, RLENGTH - 9) }' \
    "$tmp/available" | sort -u >"$tmp/base"
  # shellcheck disable=SC2046
  apt-get -s --no-install-recommends -o Dir::State::status="$tmp/empty-status" install $(cat "$tmp/base") 2>/dev/null \
    | awk '/^Inst/ { print $2 }' >"$tmp/minimal"
  [ "$(wc -l <"$tmp/minimal")" -ge 50 ] || fail "a minimal Debian of $(wc -l <"$tmp/minimal") packages"
  # Their entries from the package lists, each marked installed.
  awk -v RS= -v ORS='\n\n' 'NR == FNR { want[$0] = 1; next }
    { match($0, /^Package: [^\n]+/); p = substr($0, 10, RLENGTH - 9) }
    (p in want) && !(p in done) { done[p] = 1; sub(/\n/, "\nStatus: install ok installed\n"); print }' \
    RS='\n' "$tmp/minimal" RS= "$tmp/available" >"$tmp/minimal-status"
  count_new() {  # count_new DEB: the packages apt would add to the minimal system with DEB
    apt-get -s --no-install-recommends -o Dir::State::status="$tmp/minimal-status" install "$1" 2>&1 \
      | awk -v self="$(dpkg-deb -f "$1" Package)" '/^Inst/ && $2 != self { print $2 }'
  }
  new=$(count_new "$deb_logger")
  echo "quorna-logger on a minimal Debian 12 ($(wc -l <"$tmp/minimal") packages): $(wc -w <<<"$new") new: $new"
  echo "(the window program quorna: $(count_new "$deb_window" | wc -l) new)"
  [ "$(wc -w <<<"$new")" -le 10 ] || fail "quorna-logger adds $(wc -w <<<"$new") packages to a minimal Debian"
else
  echo "no package lists (apt-get update): what the logger adds to a minimal Debian was not counted"
fi

# The programs are stripped and built with Debian's hardening: PIE, full RELRO (bind now), the
# stack protector and the fortified C library functions.
root="$tmp/root"
for program in quorna quorna-logger quorna-metersim; do
  binary="$root/usr/bin/$program"
  # Each tool's output whole in a variable: grep -q ends a pipe early, which pipefail would count.
  file "$binary" | grep ', stripped' >/dev/null || fail "$program is not stripped"
  header=$(readelf -h "$binary"); segments=$(readelf -l "$binary"); dynamic=$(readelf -d "$binary")
  symbols=$(nm -D --undefined-only "$binary")
  grep -q 'Type:.*DYN' <<<"$header" || fail "$program is not PIE"
  grep -q 'GNU_RELRO' <<<"$segments" || fail "$program has no RELRO"
  grep -Eq 'BIND_NOW|FLAGS_1.*NOW' <<<"$dynamic" || fail "$program is not bound now"
  grep -q ' __stack_chk_fail@' <<<"$symbols" || fail "$program has no stack protector"
  grep -Eq ' __[a-z]+_chk@' <<<"$symbols" || fail "$program uses no fortified function"
done

# The window program's desktop entry, icons and AppStream metainfo.
grep -q '^Exec=quorna$' "$root/usr/share/applications/quorna.desktop" || fail "desktop entry's Exec"
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/quorna.svg" || fail "SVG icon"
for size in 16 32 48 64 128 256; do
  file "$root/usr/share/icons/hicolor/${size}x${size}/apps/quorna.png" | grep -q "PNG image data, $size x $size" \
    || fail "no $size x $size icon"
done
metainfo="$root/usr/share/metainfo/org.example.quorna.metainfo.xml"
[ -f "$metainfo" ] || fail "no AppStream metainfo"
grep -q '<launchable type="desktop-id">quorna.desktop</launchable>' "$metainfo" || fail "metainfo's launchable"
appstreamcli validate --no-net --pedantic "$metainfo" >"$tmp/appstream.out" 2>&1 || { cat "$tmp/appstream.out"; fail "appstreamcli validate"; }

unit="$root/usr/lib/systemd/system/quorna-logger.service"
for line in 'ExecStart=/usr/bin/quorna-logger' 'User=quorna' 'WorkingDirectory=/var/lib/quorna' 'Restart=on-failure' \
            'RestartPreventExitStatus=2' 'Type=notify' 'WatchdogSec=5min' 'ExecReload=/bin/kill -HUP $MAINPID' \
            'StateDirectory=quorna' 'UMask=0027'; do
  grep -qx "$line" "$unit" || fail "the unit lacks $line"
done
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
echo "packages: $(cd "$debs" && echo *.deb) unpacked, the logger logged: $line"
