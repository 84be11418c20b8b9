#!/usr/bin/env bash
# Checks that every C++ file of the tree is formatted as .clang-format says
# (clang-format --dry-run): the tracked files, and new ones not yet added.
set -euo pipefail
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <({ git ls-files '*.cpp' '*.h'; git ls-files --others --exclude-standard '*.cpp' '*.h'; } | sort -u)
else
  mapfile -t files < <(find src tests bench fuzz -name '*.cpp' -o -name '*.h')
fi
existing=()
for f in "${files[@]}"; do [ -f "$f" ] && existing+=("$f"); done
[ ${#existing[@]} -eq 0 ] && exit 0
clang-format --dry-run --Werror "${existing[@]}"
