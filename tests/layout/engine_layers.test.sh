#!/usr/bin/env bash
# The engine's folders are layered: a file includes engine headers only from its own folder
# or from folders listed before its own. A folder missing from the list fails the test, so a
# new one has to be placed.
set -euo pipefail
src="$(cd "$(dirname "$0")/../../src/rootio" && pwd)"
layers=(format codec parallel io file "tree ntuple hist")

rank_of() {
  local i
  for i in "${!layers[@]}"; do
    for f in ${layers[$i]}; do [ "$f" = "$1" ] && { echo "$i"; return; }; done
  done
  echo -1
}

bad=0
for dir in "$src"/*/; do
  folder=$(basename "$dir")
  rank=$(rank_of "$folder")
  if [ "$rank" -lt 0 ]; then echo "src/rootio/$folder: not in the layer list"; bad=1; continue; fi
  while IFS=: read -r file _ inc; do
    target=$(sed -E 's|.*"rootio/([a-z_]+)/.*|\1|' <<<"$inc")
    [ "$target" = "$folder" ] && continue
    trank=$(rank_of "$target")
    # A sibling (same rank, another folder) is not below either: only a lower rank may be used.
    if [ "$trank" -lt 0 ] || [ "$trank" -ge "$rank" ]; then
      echo "${file#"$src"/}: includes rootio/$target from rootio/$folder"; bad=1
    fi
  done < <(grep -Hn '#include "rootio/' "$dir"*.h "$dir"*.cc 2>/dev/null || true)
done
[ -z "$(ls "$src"/*.h "$src"/*.cc 2>/dev/null)" ] || { echo "files outside a folder:"; ls "$src"/*.h "$src"/*.cc; bad=1; }
exit $bad
