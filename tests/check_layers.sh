#!/usr/bin/env bash
# Dependencies between the bridge's folders run one way: server -> host, installer,
# direct_api -> hub -> catalog, common. Fails when a header or source includes a folder
# above its own.
set -euo pipefail
src=${1:-$(dirname "$0")/../src}
rank() {
  case "$1" in
    common) echo 0 ;; catalog) echo 1 ;; hub) echo 2 ;;
    host|installer|direct_api) echo 3 ;; server) echo 4 ;; *) echo 9 ;;
  esac
}
bad=0
for file in "$src"/*/*; do
  [ -f "$file" ] || continue
  own=$(basename "$(dirname "$file")")
  while IFS= read -r inc; do
    dir=${inc%%/*}
    [ "$dir" = "$own" ] && continue
    if [ "$(rank "$dir")" -ge "$(rank "$own")" ]; then
      echo "${file#"$src"/} includes $inc, which is not below $own/" >&2
      bad=1
    fi
  done < <(sed -n 's/^#include "\([a-z_]*\/[^"]*\)".*/\1/p' "$file")
done
exit $bad
