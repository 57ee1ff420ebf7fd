#!/usr/bin/env bash
# Holds the sources to their layers: a file may include headers of its own layer and of the layers
# below it, never of a layer above, and nothing below gui may include a Qt header. The logger is a
# top layer beside gui: it uses every layer below gui, never gui, and no Qt header.
#   scripts/check-layers.sh [SRC-DIR]
# Prints each violation and exits 1 when there is one.
set -u
src="${1:-$(dirname "$0")/../src}"
layers=(core bus settings meters logging forms station gui logger)
rank() {
  local i
  for i in "${!layers[@]}"; do [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }; done
  echo -1
}
bad=0
while IFS= read -r file; do
  rel=${file#"$src"/}
  own=$(rank "${rel%%/*}")
  if [ "$own" -lt 0 ]; then
    echo "$rel: lies in no layer (${layers[*]})"; bad=1; continue
  fi
  while IFS= read -r line; do
    inc=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^>"]+)[>"].*/\1/' <<<"$line")
    if [[ "$inc" == */* ]] && [ -e "$src/$inc" ]; then
      theirs=$(rank "${inc%%/*}")
      # gui and logger stand side by side on top: neither may use the other.
      top=$(rank gui)
      if [ "$own" -ge "$top" ] && [ "$theirs" -ge "$top" ] && [ "$theirs" -ne "$own" ]; then
        echo "$rel: includes $inc, a layer beside its own (${layers[$own]} may use ${layers[*]:0:$top} and itself)"; bad=1
      elif [ "$theirs" -gt "$own" ]; then
        echo "$rel: includes $inc, a layer above (${layers[$own]} may use ${layers[*]:0:$((own + 1))})"; bad=1
      fi
    elif [ "${layers[$own]}" != gui ] && [[ "$inc" =~ ^Q[A-Za-z]*$|^Qt ]]; then
      echo "$rel: includes the Qt header $inc outside the gui layer"; bad=1
    fi
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include' "$file")
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
[ "$bad" -eq 0 ] && echo "layers: every include points down"
exit "$bad"
