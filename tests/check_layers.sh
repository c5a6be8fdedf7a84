#!/usr/bin/env bash
# Dependencies between the bridge's folders run one way: server -> installer, direct_api
# -> host -> hub -> catalog -> common (the installer and the window snapshot may ask host
# control whether Premiere runs; host control never needs them). Fails when a header or
# source includes a folder that is not below its own.
set -euo pipefail
src=${1:-$(dirname "$0")/../src}
rank() {
  case "$1" in
    common) echo 0 ;; catalog) echo 1 ;; hub) echo 2 ;;
    host) echo 3 ;; installer|direct_api) echo 4 ;; server) echo 5 ;; *) echo 9 ;;
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
