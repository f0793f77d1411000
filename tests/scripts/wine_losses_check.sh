#!/bin/bash
# wine_losses_check.sh SCRIPT WORKDIR : runs a scratch ctest project whose
# tests print GoogleTest-like output and end in chosen ways, then checks that
# SCRIPT (scripts/wine-losses.sh) names exactly the failures that are Wine's.
# Each row: test name, what it prints, how it ends, the verdict expected
# ("-" for none: the failure is the code's and must not be retried).
set -euo pipefail
script=$1 work=$2
rm -rf "$work" && mkdir -p "$work/src"
run="echo '[ RUN      ] X.y'"
ok="$run; echo '[       OK ] X.y (0 ms)'"
passed="echo '[  PASSED  ] 1 test.'"
cases=(
  "passes|$ok; $passed|exit 0|-"
  "segv.after.summary|$ok; $passed|kill -SEGV \$\$|crashed at exit"
  "segv.before.summary|$ok|kill -SEGV \$\$|lost at exit"
  "segv.after.failed.case|$run; echo '[  FAILED  ] X.y (0 ms)'|kill -SEGV \$\$|-"
  "segv.with.no.case|echo 'Note: nothing'|kill -SEGV \$\$|-"
  "abort.after.summary|$ok; $passed|kill -ABRT \$\$|-"
  "exit1.after.summary|$ok; $passed|exit 1|-"
  "gone.before.summary|$ok|exit 3|lost at exit"
  "wine.never.started|echo 'wine: could not load kernel32.dll'|exit 1|not started"
)
{
  echo 'cmake_minimum_required(VERSION 3.16)'
  echo 'project(check NONE)'
  echo 'enable_testing()'
  for row in "${cases[@]}"; do
    IFS='|' read -r name body ending _ <<<"$row"
    printf 'add_test(NAME %s COMMAND sh -c "%s; %s")\n' "$name" "${body//\"/\\\"}" "${ending//\$/\\\$}"
  done
} >"$work/src/CMakeLists.txt"
cmake -S "$work/src" -B "$work/b" >/dev/null
ctest --test-dir "$work/b" >"$work/console.log" 2>&1 || true
"$script" "$work/b" "$work/console.log" >"$work/found.txt"
for row in "${cases[@]}"; do
  IFS='|' read -r name _ _ verdict <<<"$row"
  [ "$verdict" = - ] || printf '%s\t%s\n' "$name" "$verdict"
done | sort >"$work/expected.txt"
sort "$work/found.txt" >"$work/found.sorted.txt"
if ! diff -u "$work/expected.txt" "$work/found.sorted.txt"; then
  echo "wine-losses.sh named the wrong failures (- expected, + found)"
  exit 1
fi
echo "wine-losses.sh: ${#cases[@]} endings judged as expected"
