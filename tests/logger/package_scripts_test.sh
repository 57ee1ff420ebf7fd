#!/usr/bin/env bash
# quorna-logger's maintainer scripts as dpkg runs them, against a temporary root: deb-systemd-helper
# works in DPKG_ROOT, so the enable links and its records land there; the commands that would touch
# this machine's users and /var/lib (adduser, getent, mkdir, chown, chmod) are stand-ins that note
# their arguments. Checked: installation enables the unit, an upgrade keeps a unit the
# administrator disabled disabled, remove masks it, purge leaves no link and no record behind (a
# new installation is enabled afresh), no script calls systemctl but for daemon-reload, and the
# user is made after its home folder, so that adduser has nothing to warn about.
#   package_scripts_test.sh DEB-DIR VERSION
set -euo pipefail
deb="$1/quorna-logger_$2_amd64.deb"
tmp=$(mktemp -d /tmp/quorna-scripts.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

[ -f "$deb" ] || fail "no $deb"
dpkg-deb -e "$deb" "$tmp/control"
root="$tmp/root"
dpkg-deb -x "$deb" "$root"
for script in postinst prerm postrm; do
  [ -x "$tmp/control/$script" ] || fail "no $script"
  sh -n "$tmp/control/$script" || fail "$script: syntax"
  if grep -E '(^|;|&&|\|\|)\s*systemctl\b' "$tmp/control/$script" | grep -vq 'daemon-reload'; then
    fail "$script calls systemctl"
  fi
done

# Stand-ins for what would change this machine.
stubs="$tmp/stubs"
mkdir "$stubs"
for command in adduser chown chmod mkdir; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/calls"\n' "$command" "$tmp" >"$stubs/$command"
done
# getent: no user quorna until adduser made it.
printf '#!/bin/sh\n[ "$1" = passwd ] && ! grep -q "^adduser --system" "%s/calls" 2>/dev/null && exit 2\nexit 0\n' "$tmp" >"$stubs/getent"
chmod +x "$stubs"/*
# deb-systemd-helper acts only when dpkg runs it, which dpkg says in these variables.
export DPKG_MAINTSCRIPT_PACKAGE=quorna-logger DPKG_MAINTSCRIPT_ARCH=amd64
run() {  # run SCRIPT ARGS...: a maintainer script as dpkg runs it, in the temporary root
  PATH="$stubs:$PATH" DPKG_ROOT="$root" DPKG_MAINTSCRIPT_NAME="$1" sh -e "$tmp/control/$1" "${@:2}" >"$tmp/out" 2>&1 || { cat "$tmp/out"; fail "$* failed"; }
  [ ! -s "$tmp/out" ] || { cat "$tmp/out"; fail "$* printed something"; }
}
wants="$root/etc/systemd/system/multi-user.target.wants/quorna-logger.service"
state="$root/var/lib/systemd/deb-systemd-helper-enabled"

# A first installation: the folder, then the user, owned folder, enabled unit.
run postinst configure
grep -n '' "$tmp/calls" >"$tmp/numbered"
first_mkdir=$(grep -m1 'mkdir -p /var/lib/quorna' "$tmp/numbered" | cut -d: -f1)
first_adduser=$(grep -m1 'adduser --system' "$tmp/numbered" | cut -d: -f1)
[ -n "$first_mkdir" ] && [ -n "$first_adduser" ] && [ "$first_mkdir" -lt "$first_adduser" ] \
  || { cat "$tmp/calls"; fail "the home folder is not made before the user"; }
grep -qx 'adduser --system --group --home /var/lib/quorna --no-create-home --gecos Quorna logger quorna' "$tmp/calls" \
  || { cat "$tmp/calls"; fail "adduser's arguments"; }
grep -qx 'chown quorna:quorna /var/lib/quorna' "$tmp/calls" || fail "the folder is not the user's"
grep -qx 'chmod 0750 /var/lib/quorna' "$tmp/calls" || fail "the folder is readable by others"
[ -L "$wants" ] || fail "installation did not enable the unit"
[ "$(readlink "$wants")" = /usr/lib/systemd/system/quorna-logger.service ] || fail "the link points to $(readlink "$wants")"

# An upgrade after the administrator disabled the unit leaves it disabled.
DPKG_ROOT="$root" deb-systemd-helper disable quorna-logger.service >/dev/null
[ ! -e "$wants" ] || fail "disable left the link"
run postinst configure 1.0.2
[ ! -e "$wants" ] && [ ! -L "$wants" ] || fail "an upgrade enabled a disabled unit"
DPKG_ROOT="$root" deb-systemd-helper enable quorna-logger.service >/dev/null

# Remove: the unit is masked while its program is gone, and its link stays for a reinstallation.
run prerm remove
run postrm remove
[ "$(readlink "$root/etc/systemd/system/quorna-logger.service")" = /dev/null ] || fail "remove did not mask the unit"

# Purge: no link, no mask, no record left.
rm -rf "${root:?}/usr"  # dpkg removed the files before postrm purge
run postrm purge
leftovers=$(find "$root/etc" "$root/var/lib/systemd" -name '*quorna*' 2>/dev/null || true)
[ -z "$leftovers" ] || fail "purge left: $leftovers"

# A new installation after the purge is enabled afresh.
dpkg-deb -x "$deb" "$root"
run postinst configure
[ -L "$wants" ] || fail "a new installation after a purge is not enabled"
echo "maintainer scripts: enabled on install, kept disabled on upgrade, masked on remove, nothing left after purge"
