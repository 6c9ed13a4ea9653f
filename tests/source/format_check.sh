#!/usr/bin/env bash
# Checks that every tracked C and C++ source of the tree is formatted as .clang-format says:
# runs clang-format in dry-run mode over them and fails on the first difference it reports.
#   format_check.sh CLANG_FORMAT ROOT
# Exits 77 (skipped) when ROOT is not a git checkout, since only git knows which files are
# the tree's own.
set -euo pipefail
clang_format=$1
root=$2

if ! git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  echo "$root is not a git checkout: no list of tracked sources" >&2
  exit 77
fi
if ! command -v "$clang_format" >/dev/null; then
  echo "$clang_format is not installed (scripts/install-deps installs it)" >&2
  exit 1
fi

cd "$root"
mapfile -d '' sources < <(git ls-files -z -- '*.c' '*.cpp' '*.h')
if [ ${#sources[@]} -eq 0 ]; then
  echo "no tracked C or C++ sources under $root" >&2
  exit 1
fi
if ! "$clang_format" --dry-run --Werror "${sources[@]}"; then
  echo "Not formatted as .clang-format says; fix with: $clang_format -i FILE..." >&2
  exit 1
fi
echo "${#sources[@]} sources formatted as .clang-format says"
