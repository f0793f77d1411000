#!/bin/bash
# wine-losses.sh BUILD [CONSOLE] : of the tests the last ctest run in BUILD
# failed, prints those whose failure is Wine's and not the code's, one line
# each: "NAME<TAB>SIGNATURE". Only three signatures count, read from the
# test's own output in ctest's log of the run and, for the third, from
# ctest's console output of that run (CONSOLE):
#   lost at exit     every case the program started passed, none failed, and
#                    the program ended without GoogleTest's closing summary
#                    (Wine lost the process as it left);
#   not started      Wine reported a failure of its own and the program never
#                    began a case;
#   crashed at exit  every case passed, GoogleTest's closing summary says so,
#                    and ctest saw the process end by SIGSEGV. A Windows
#                    program's own fault ends it with an exception code, never
#                    with a Unix signal: the signal is Wine's loader crashing
#                    in its own teardown (a core shows it in ntdll.so's signal
#                    handler, another thread's while the main thread closes
#                    its descriptors on the way out).
# A failure that ran into the time limit, a failed or missing case, or any
# other output is the code's and is never named here.
set -euo pipefail
build=$1
console=${2:-/dev/null}
log="$build/Testing/Temporary/LastTest.log"
failed="$build/Testing/Temporary/LastTestsFailed.log"
[ -s "$failed" ] && [ -f "$log" ] || exit 0
awk -v failedList="$failed" -v consoleLog="$console" '
  BEGIN {
    while ((getline line < failedList) > 0) { sub(/^[0-9]+:/, "", line); isFailed[line] = 1 }
    # ctest lists each failed test as "<tab>NNN - NAME (SEGFAULT)".
    while ((getline line < consoleLog) > 0)
      if (match(line, /^[ \t]*[0-9]+ - [^ ]+ \(SEGFAULT\)$/)) { split(line, f, " "); isSegv[f[3]] = 1 }
  }
  function verdict() {
    if (name == "" || !(name in isFailed)) return
    if (seconds >= 590) return  # the time limit (600 s): a hang may be ours
    if (started > 0 && passed == started && !failedCase) {
      if (!summary) print name "\tlost at exit"
      else if (name in isSegv) print name "\tcrashed at exit"
    } else if (started == 0 && wineError) print name "\tnot started"
  }
  /^[0-9]+\/[0-9]+ Testing: / { verdict(); name = $3; started = passed = failedCase = summary = wineError = 0; seconds = 0; next }
  /^\[ RUN      \] / { started++ }
  /^\[       OK \] / { passed++ }
  /^\[  FAILED  \] / { failedCase = 1 }
  /^\[  PASSED  \] / { summary = 1 }
  /^(wine: |wineserver: |wine client error)/ { wineError = 1 }
  /^Test time = / { seconds = $4 + 0 }
  END { verdict() }
' "$log"
