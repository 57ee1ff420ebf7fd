#!/usr/bin/env bash
# lintian on the three packages: no error and no warning. Info tags are allowed; those it gives are
# printed, so that a new one is seen.
#   package_lintian_test.sh DEB-DIR VERSION
set -euo pipefail
debs=("$1/quorna_$2_amd64.deb" "$1/quorna-logger_$2_amd64.deb" "$1/quorna-metersim_$2_amd64.deb")
for deb in "${debs[@]}"; do [ -f "$deb" ] || { echo "FAIL: no $deb" >&2; exit 1; }; done
command -v lintian >/dev/null || { echo "FAIL: lintian is not installed (apt-get install lintian)" >&2; exit 1; }
out=$(mktemp /tmp/quorna-lintian.XXXXXX)
trap 'rm -f "$out"' EXIT
rc=0
lintian --fail-on error,warning --display-info "${debs[@]}" >"$out" 2>&1 || rc=$?
cat "$out"
if grep -E '^[EW]: ' "$out"; then
  echo "FAIL: lintian reports errors or warnings" >&2
  exit 1
fi
[ "$rc" -eq 0 ] || { echo "FAIL: lintian exited $rc" >&2; exit 1; }
echo "lintian: no error, no warning on ${#debs[@]} packages ($(grep -c '^I: ' "$out" || true) info tags)"
