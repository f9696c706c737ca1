#!/usr/bin/env bash
# Runs the libFuzzer targets, each for N minutes of CPU time, M at a time, and prints per target its
# executions per second, CPU minutes, coverage (edges), corpus size and crashes. CPU time, not wall
# time: on a shared machine a target's wall minutes can hold a third of that in work. The clang build
# with FEROLT_LIBFUZZER is configured and built in BUILD when needed. Each target starts from its seed corpus in
# tests/fuzz_corpus/<target> (never written to); what it finds goes to BUILD/fuzz-work/<target>, and
# crash inputs to BUILD/fuzz-work/<target>/crashes: copy one into tests/fuzz_corpus/<target>/crashes/
# and write a fixture test for it.
#
# Usage: scripts/fuzz.sh [-b BUILD] [-t CPU_MINUTES] [-j CORES] [TARGET...]   (default: every fuzz_* target)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"
minutes=10
cores=$(( $(nproc) / 2 > 0 ? $(nproc) / 2 : 1 ))
while getopts "b:t:j:" opt; do
  case $opt in
    b) build=$(realpath -m "$OPTARG") ;;
    t) minutes=$OPTARG ;;
    j) cores=$OPTARG ;;
    *) sed -n '2,10p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

if [ ! -f "$build/build.ninja" ]; then
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DFEROLT_SANITIZE=ON -DFEROLT_LIBFUZZER=ON -DFEROLT_BENCH=OFF "${launcher[@]}" >/dev/null
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(ninja -C "$build" -t targets all | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\): phony$/\1/p' | sort -u)
fi
cmake --build "$build" -j "$cores" --target "${targets[@]}" >"$build/fuzz-build.log" 2>&1 ||
  { tail -40 "$build/fuzz-build.log" >&2; echo "fuzz.sh: the build failed" >&2; exit 1; }

work="$build/fuzz-work"
run_one() {
  local t=$1 exe
  exe=$(find "$build/tests" -type f -name "$t" -perm -u+x | head -1)
  mkdir -p "$work/$t/corpus" "$work/$t/crashes"
  local seeds=()
  [ -d "$root/tests/fuzz_corpus/$t" ] && seeds=("$root/tests/fuzz_corpus/$t")
  # A starved process can sit for seconds on an input it reads in milliseconds, so only a minute
  # on one input counts as a hang. The wall-time cap only bounds a run that gets almost no CPU.
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
    "$exe" -max_total_time=$((minutes * 60 * 10)) -timeout=60 -rss_limit_mb=2048 -malloc_limit_mb=512 \
      -print_final_stats=1 -artifact_prefix="$work/$t/crashes/" "$work/$t/corpus" "${seeds[@]}" \
      >"$work/$t/log" 2>&1 &
  local pid=$! ticks cpu=0
  ticks=$(getconf CLK_TCK)
  # Stop it once its user plus system time reaches the budget; libFuzzer prints its final figures on
  # SIGINT.
  while kill -0 "$pid" 2>/dev/null; do
    cpu=$(awk -v hz="$ticks" '{ print int(($14 + $15) / hz) }' "/proc/$pid/stat" 2>/dev/null || echo "$cpu")
    if [ "$cpu" -ge $((minutes * 60)) ]; then kill -INT "$pid" 2>/dev/null || true; break; fi
    sleep 5
  done
  wait "$pid" || true
  echo "$cpu" >"$work/$t/cpu"
}
export -f run_one
export build root work minutes
printf '%s\n' "${targets[@]}" | xargs -P "$cores" -I{} bash -c 'run_one {}'

printf '%-28s %10s %8s %8s %8s %8s\n' target execs/s cpu-min cov corpus crashes
for t in "${targets[@]}"; do
  log="$work/$t/log"
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -ao 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  corpus=$(find "$work/$t/corpus" -type f | wc -l)
  crashes=$(find "$work/$t/crashes" -type f ! -name 'slow-unit-*' | wc -l)
  cpu=$(awk '{ printf "%.1f", $1 / 60 }' "$work/$t/cpu" 2>/dev/null || true)
  printf '%-28s %10s %8s %8s %8s %8s\n' "$t" "${speed:-?}" "${cpu:-?}" "${cov:-?}" "$corpus" "$crashes"
done
