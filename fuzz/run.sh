#!/usr/bin/env bash
# Runs every fuzz target for a bounded time over its committed seeds plus what earlier runs in
# this build directory found; prints executions per target and fails when any target finds
# something (its log and the input are kept under BUILD_DIR/fuzz-artifacts).
#   fuzz/run.sh BUILD_DIR SECONDS [TARGET...]
set -uo pipefail
cd "$(dirname "$0")/.."
build=$1
seconds=$2
shift 2
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi
# Targets that keep an SDK (or a store) across runs leave memory behind by design; libFuzzer's
# per-run leak check would scan the heap after every run. Leaks still fail them at exit.
stateful=" ad_response remote_config service_file deep_link web_page store_file splash_cache "
stateful+=" user_properties quest_screen "
# Their files are scratch: on a RAM disk when there is one.
if [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
mkdir -p "$build/fuzz-artifacts"
status=0
summary=""
for t in "${targets[@]}"; do
  work="$build/fuzz-corpus/$t"
  mkdir -p "$work"
  log="$build/fuzz-artifacts/$t.log"
  leaks=1
  [[ "$stateful" == *" $t "* ]] && leaks=0
  "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -detect_leaks=$leaks -print_funcs=0 -print_final_stats=1 \
    -artifact_prefix="$build/fuzz-artifacts/$t-" "$work" "fuzz/corpus/$t" >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  summary+=$(printf '%-18s %10s executions  %s' "$t" "${runs:-?}" \
    "$([ $rc -eq 0 ] && echo ok || echo "FAILED (see $log)")")$'\n'
  if [ $rc -ne 0 ]; then
    status=1
    tail -40 "$log"
  fi
done
printf '%s' "$summary"
exit $status
