#!/usr/bin/env bash
# Runs one fuzz target for a bounded time on a scratch copy of its seed corpus,
# so that new inputs never land in the source tree. Fails on any crash, leak,
# hang (10 s per input) or sanitizer report.
# Usage: run-fuzzer.sh FUZZER SEED_DIR   (time from KELVARA_FUZZ_SECONDS, default 10)
set -euo pipefail
fuzzer=$1
seeds=$2
seconds=${KELVARA_FUZZ_SECONDS:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$work/artifacts"
export TMPDIR="$work"
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds" 2>"$work/log" || {
  tail -n 60 "$work/log"
  for a in "$work"/artifacts/*; do [ -e "$a" ] && { echo "input: $a"; od -A d -t x1 "$a" | head -20; }; done
  exit 1
}
# One summary line per target, kept beside the build for `make fuzz` to show.
stats_dir="$(dirname "$fuzzer")/../fuzz-stats"
mkdir -p "$stats_dir"
units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$work/log")
printf '%-24s %6s s %12s executions %6s MB peak\n' "$(basename "$fuzzer")" "$seconds" "${units:-?}" "${rss:-?}" |
  tee "$stats_dir/$(basename "$fuzzer").txt"
