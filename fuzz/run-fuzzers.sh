#!/usr/bin/env bash
# Runs every fuzz harness of a fuzz build for a given time, starting from the
# seed corpus, and prints executions and coverage per harness. A harness that
# finds a crash stops; its case is left in BUILD/artifacts/NAME/ and the run
# fails. Copy such a case into fuzz/regressions/NAME/ (and mend the fault) so
# the ordinary suite replays it.
# Usage: fuzz/run-fuzzers.sh BUILD-FOLDER SECONDS [NAME...]
# With FUZZ_RUNS set, a harness also stops once it has run that many inputs
# (whichever comes first: the time or the count).
set -uo pipefail
build="$1"
seconds="$2"
shift 2
here="$(cd "$(dirname "$0")" && pwd)"
names=("$@")
[ ${#names[@]} -eq 0 ] && names=(frame lzf settings preferences resources movie sound png y4m liborx)
export ORX_PREFERENCES_DIR="$(mktemp -d)"
trap 'rm -rf "$ORX_PREFERENCES_DIR"' EXIT
failed=0
printf '%-12s %12s %8s %8s %8s %s\n' harness executions seconds edges features result
for n in "${names[@]}"; do
  corpus="$build/corpus/$n"
  artifacts="$build/artifacts/$n"
  mkdir -p "$corpus" "$artifacts"
  log="$build/fuzz-$n.log"
  runs_flag=()
  [ -n "${FUZZ_RUNS:-}" ] && runs_flag=(-runs="$FUZZ_RUNS")
  start=$SECONDS
  "$build/fuzz/fuzz_$n" -max_total_time="$seconds" "${runs_flag[@]}" -timeout=20 -rss_limit_mb=3072 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "$here/corpus/$n" "$here/regressions/$n" > "$log" 2>&1
  rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
  if [ $rc -eq 0 ]; then result=ok; else result="FAILED (see $log, case in $artifacts/)"; failed=1; fi
  printf '%-12s %12s %8s %8s %8s %s\n' "$n" "${runs:-?}" "$((SECONDS - start))" "${cov:-?}" "${ft:-?}" "$result"
done
exit $failed
