# Sourced by the scripts that set up, build and run (setup.sh, build.sh,
# demo.sh, test.sh): each phase prints one line; what the package manager,
# CMake and the compilers print goes to one log file, which is named with
# its last lines when a phase fails.
#
#   KYD_LOG   the log file (default: setup.log in the build folder)

: "${KYD_LOG:=${KYD_BUILD_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build}/setup.log}"
export KYD_LOG
mkdir -p "$(dirname "$KYD_LOG")"

# "12 s" or "2 min 05 s" since $1 (a value of $SECONDS).
phase_time() {
  local s=$((SECONDS - $1))
  if [ "$s" -ge 60 ]; then printf '%d min %02d s' $((s / 60)) $((s % 60)); else printf '%d s' "$s"; fi
}

# A failed phase: its name, the log and the log's last lines, then exit.
phase_failed() {  # phase_failed NAME STATUS
  echo "$1: FAILED (exit code $2); the last lines of $KYD_LOG:" >&2
  tail -n 25 "$KYD_LOG" | sed 's/^/  | /' >&2
  exit "$2"
}

# phase NAME DONE-TEXT COMMAND [ARG...]: runs the command with its output in
# the log; prints "NAME: DONE-TEXT (time)" or fails.
phase() {
  local name=$1 done=$2 start=$SECONDS status=0
  shift 2
  echo "==== $name: $*" >>"$KYD_LOG"
  "$@" >>"$KYD_LOG" 2>&1 </dev/null || status=$?
  [ "$status" -eq 0 ] || phase_failed "$name" "$status"
  echo "$name: $done ($(phase_time "$start"))"
}

# Reads Ninja's status lines ("[tree done/total] ...", see NINJA_STATUS in
# build.sh and cmake/tests.cmake) and shows the count of targets built, on
# one line kept up to date on a terminal; at the end, the counts once more.
phase_progress() {
  local line tree shown="" order=()
  declare -A built total
  while IFS= read -r line; do
    [[ $line =~ ^\[([a-z0-9]+)\ ([0-9]+)/([0-9]+)\]\ (.*) ]] || continue
    # Ninja's look at the source globs is no target (and all a tree that is
    # up to date shows).
    [ "${BASH_REMATCH[4]}" != "Re-checking globbed directories..." ] || continue
    tree=${BASH_REMATCH[1]}
    [ -n "${total[$tree]+x}" ] || order+=("$tree")
    built[$tree]=${BASH_REMATCH[2]}
    total[$tree]=${BASH_REMATCH[3]}
    local sum=0 of=0 parts=""
    for tree in "${order[@]}"; do
      sum=$((sum + built[$tree])); of=$((of + total[$tree]))
      parts+="${parts:+, }$tree ${built[$tree]}/${total[$tree]}"
    done
    shown="$sum of $of targets ($parts)"
    [ -t 1 ] && printf '\r\033[Kbuild: %s' "$shown"
  done
  [ -t 1 ] && printf '\r\033[K'
  printf 'build: %s' "${shown:-nothing to do}"
}

# phase_build BUILD_DIR [TARGET...]: builds the targets (all when none), the
# progress on one line, the tools' output in the log.
phase_build() {
  local dir=$1 start=$SECONDS status=0 targets=() t
  shift
  for t in "$@"; do targets+=(--target "$t"); done
  echo "==== build: ${*:-all}" >>"$KYD_LOG"
  set +e
  NINJA_STATUS='[tests %f/%t] ' cmake --build "$dir" -j "${KYD_JOBS:-2}" "${targets[@]}" 2>&1 </dev/null |
    tee -a "$KYD_LOG" | phase_progress
  status=${PIPESTATUS[0]}
  set -e
  if [ "$status" -ne 0 ]; then echo; phase_failed build "$status"; fi
  echo " - done ($(phase_time "$start"))"
}
