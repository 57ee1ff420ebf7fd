#!/usr/bin/env bash
# Lists the writable process-wide data of the core's static libraries (every layer below gui):
# objects in .data, .bss and their thread-local kin. Constant tables sit in read-only sections and
# do not count. The one object allowed is the ODBC binding (the driver manager is loaded once per
# process and keeps one environment for it). Exits 1 when anything else appears.
#   scripts/check-core-state.sh BUILD-DIR
set -u
build="${1:?build directory}"
allowed='g_odbc'
found=0
bad=0
for lib in "$build"/src/libquorna_*.a; do
  case "$lib" in *gui*) continue ;; esac
  while read -r section symbol; do
    found=$((found + 1))
    if [[ "$symbol" =~ $allowed ]]; then
      echo "allowed: $(basename "$lib") $section $symbol"
    else
      echo "writable: $(basename "$lib") $section $symbol"; bad=1
    fi
  done < <(objdump -t -C "$lib" 2>/dev/null |
           awk -F'\t' '$1 ~ / O \.(data|bss|tdata|tbss)/ && $1 !~ /\.data\.rel\.ro/ {
                          n = split($1, head, " "); sub(/^[0-9a-f]+ +/, "", $2); print head[n], $2 }' |
           grep -v -E 'DW\.ref\.|__asan|__ubsan|__sancov|_GLOBAL__|guard variable|__odr_asan' )
done
echo "writable process-wide objects in the core: $found"
exit "$bad"
