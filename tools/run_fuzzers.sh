#!/usr/bin/env bash
# Builds the libFuzzer targets (clang) and runs each for the given number of seconds (default 60)
# on a copy of its seed corpus. A crash, a sanitizer report, a hang over 1 s or an allocation over
# 512 MB fails the script and leaves the input in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
mkdir -p build-fuzz/artifacts
for target in fuzz_result_file fuzz_point_list fuzz_console fuzz_exponent_field; do
  work="build-fuzz/corpus/$target"
  mkdir -p "$work"
  cp -n fuzz/corpus/"$target"/* "$work"/ 2>/dev/null || true
  echo "--- $target for ${seconds}s"
  status=0
  build-fuzz/fuzz/"$target" -max_total_time="$seconds" -timeout=1 -malloc_limit_mb=512 \
    -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
    -artifact_prefix=build-fuzz/artifacts/"$target"- "$work" >build-fuzz/"$target".log 2>&1 ||
    status=$?
  grep -E "^(#[0-9]+ +DONE|stat::number_of_executed_units|==[0-9]+==ERROR|SUMMARY)" \
    build-fuzz/"$target".log || true
  if [ "$status" -ne 0 ]; then
    tail -n 40 build-fuzz/"$target".log
    exit "$status"
  fi
done
