#!/usr/bin/env bash
# Checks the sources against .clang-format and .clang-tidy. Needs a
# configured 'dev' build for its compile commands.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t sources < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h')
echo "clang-format: ${#sources[@]} files"
clang-format --dry-run -Werror "${sources[@]}"

[ -f build/dev/compile_commands.json ] || cmake --preset dev >/dev/null
# Not the Windows-only tests: the dev build's commands cannot compile them
# (the mingw builds do, with warnings as errors).
mapfile -t units < <(git ls-files --cached --others --exclude-standard -- '*.cpp' ':!:tests/windows/')
echo "clang-tidy: ${#units[@]} files"
printf '%s\0' "${units[@]}" | xargs -0 -n 1 -P "$(nproc)" clang-tidy -p build/dev --quiet
echo "lint: clean"
