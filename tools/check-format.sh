#!/usr/bin/env bash
# Checks that the C++ lines changed since formatting began follow
# .clang-format (clang-format-diff over `git diff` from that commit), so
# that what is touched is formatted and the rest does not churn. Prints
# the changes clang-format would make and "check-format: N passed, M
# failed[, K skipped]".
#   tools/check-format.sh          check
#   tools/check-format.sh --fix    format those lines in place
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
. "$root/tools/check-lib.sh"

# The last commit before formatting began: lines changed after it are checked.
base=1ff6f5fab722bad73d71ffbb603d01b6bb53621a
format_diff=$(command -v clang-format-diff-14 || command -v clang-format-diff || true)

if [ -z "$format_diff" ]; then
  fail "clang-format-diff not found (Debian's clang-format package)"
  finish check-format
fi
if ! git rev-parse -q --verify "$base^{commit}" >/dev/null 2>&1; then
  skip "format of the changed lines: this checkout has no history back to $base"
  finish check-format
fi

# Changed and new files alike (untracked ones too), the tests' corpus aside.
changes=$( { git diff -U0 --no-color "$base" -- '*.cpp' '*.h'
             git ls-files --others --exclude-standard -- '*.cpp' '*.h' | while read -r f; do
               git diff -U0 --no-color --no-index /dev/null "$f"; done; } )
if [ "${1:-}" = --fix ]; then
  "$format_diff" -p1 -i -binary "$(command -v clang-format-14 || command -v clang-format)" <<<"$changes"
  echo "formatted the changed lines"
  exit 0
fi
report=$("$format_diff" -p1 -binary "$(command -v clang-format-14 || command -v clang-format)" <<<"$changes")
files=$(grep -c '^+++ ' <<<"$changes")
if [ -z "$report" ]; then
  pass "the lines changed since $base in $files files follow .clang-format"
else
  fail "lines changed since $base do not follow .clang-format (tools/check-format.sh --fix formats them):"
  head -n 60 <<<"$report" | sed 's/^/    /'
fi
finish check-format
