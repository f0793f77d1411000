#!/bin/bash
# libFuzzer runtime for clang 14: Debian package libclang-rt-14-dev
#
# Builds the XML document fuzzer natively (into build-native/) and runs it
# for SECONDS on a copy of the seed corpus in a temporary folder, so no new
# corpus entries land in the repository. Fails on any crash, sanitizer
# report, invariant failure or timeout (10 s per input).
#   scripts/fuzz-xml.sh SECONDS
set -euo pipefail
seconds=${1:?usage: scripts/fuzz-xml.sh SECONDS}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-native/xml-fuzz"
mkdir -p "$build/artifacts"

# The core: every source in xml/ but xml_doc.cpp (file loading on Windows).
core=()
for f in "$root"/xml/*.cpp; do
  [ "$(basename "$f")" = xml_doc.cpp ] || core+=("$f")
done

clang++ -std=c++20 -O1 -g -Wall -Wextra -Werror \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer \
  -I"$root" "${core[@]}" "$root/tests/fuzz/xml_fuzz.cpp" -o "$build/xml_fuzz"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
cp "$root"/tests/fuzz/corpus/* "$work/corpus/"

log="$build/last-run.log"
status=0
"$build/xml_fuzz" "$work/corpus" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
  -artifact_prefix="$build/artifacts/" -print_final_stats=1 >"$log" 2>&1 || status=$?
tail -n 25 "$log"
if [ "$status" -ne 0 ] || grep -qE 'runtime error|ERROR: (AddressSanitizer|libFuzzer|UndefinedBehaviorSanitizer|LeakSanitizer)' "$log"; then
  echo "xml fuzzing FAILED (exit $status); see $log and $build/artifacts/" >&2
  exit 1
fi
echo "xml fuzzing: no findings in ${seconds}s"
