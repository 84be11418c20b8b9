#!/usr/bin/env bash
# Checks that the C++ files changed by the last commit and in the working
# tree are formatted as .clang-format says (clang-format --dry-run).
# Without git history (a plain copy), every C++ file is checked.
set -euo pipefail
cd "$(dirname "$0")/.."
if git rev-parse --verify -q HEAD~1 >/dev/null 2>&1; then
  mapfile -t files < <({ git diff --name-only HEAD~1; git diff --name-only; git ls-files --others --exclude-standard; } |
    grep -E '\.(cpp|h)$' | sort -u)
else
  mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find src tests bench -name '*.cpp' -o -name '*.h')
fi
existing=()
for f in "${files[@]}"; do [ -f "$f" ] && existing+=("$f"); done
[ ${#existing[@]} -eq 0 ] && exit 0
clang-format --dry-run --Werror "${existing[@]}"
