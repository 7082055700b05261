#!/usr/bin/env bash
# The hardening runs of CI, each in its own build tree:
#   asan  the whole test suite (core, boundary, stress, fuzz replays, Python)
#         under AddressSanitizer + UndefinedBehaviorSanitizer, leaks included
#   tsan  the thread-stress and boundary tests under ThreadSanitizer
#   portable  the core tests with the portable forms of the branch-free blends
#         (framework/num.hpp), which x86 builds otherwise never compile
#   fuzz  every libFuzzer target for FUZZ_SECONDS, all targets at once
# Any sanitizer report, in any process, fails the run.
# usage: tools/hardening.sh asan|tsan|portable|fuzz...
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
passed=0
failed=0

# Reports go to files, so that one raised in a child process whose exit
# status a test does not look at is still seen.
check_reports() {
  local dir=$1 found
  found=$(grep -l -E 'ERROR: |runtime error|WARNING: ThreadSanitizer|SUMMARY: ' "$dir"/* 2>/dev/null || true)
  if [ -n "$found" ]; then
    for f in $found; do
      echo "---- $f"
      cat "$f"
    done
    return 1
  fi
}

# Configures a build tree from scratch each time: a cache left by another
# compiler or other options would otherwise be reset and lose the options.
configure() {
  local build=$1
  shift
  rm -f "$build/CMakeCache.txt"
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMENFOLD_BUILD_BENCH=OFF "$@" >/dev/null
}

stage() {
  local name=$1
  shift
  if "$@"; then
    echo "== $name: clean"
    passed=$((passed + 1))
  else
    echo "== $name: FAILED"
    failed=$((failed + 1))
  fi
}

asan() {
  local build=build-asan reports
  reports=$PWD/$build/sanitizer-reports
  configure $build -DCMAKE_CXX_COMPILER=g++ -DLUMENFOLD_SANITIZE=address,undefined || return 1
  cmake --build $build -j "$JOBS" || return 1
  rm -rf "$reports" && mkdir -p "$reports"
  local ok=0
  (cd $build && \
    ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:log_path=$reports/san \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=$reports/san \
    ctest --output-on-failure -j "$JOBS") || ok=1
  check_reports "$reports" || ok=1
  return $ok
}

tsan() {
  local build=build-tsan reports
  reports=$PWD/$build/sanitizer-reports
  configure $build -DCMAKE_CXX_COMPILER=g++ -DLUMENFOLD_SANITIZE=thread || return 1
  cmake --build $build -j "$JOBS" --target stress_tests binding_tests || return 1
  rm -rf "$reports" && mkdir -p "$reports"
  local ok=0
  (cd $build && \
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:allocator_may_return_null=1:log_path=$reports/san \
    ctest --output-on-failure -j 2 -L 'stress|binding') || ok=1
  check_reports "$reports" || ok=1
  return $ok
}

portable() {
  local build=build-portable
  configure $build -DCMAKE_CXX_FLAGS=-DLUMENFOLD_PORTABLE_BLENDS || return 1
  cmake --build $build -j "$JOBS" --target core_tests || return 1
  $build/tests/core_tests --gtest_brief=1
}

fuzz() {
  local build=build-fuzz cxx
  cxx=$(command -v clang++ || command -v clang++-14)
  configure $build -DCMAKE_CXX_COMPILER="$cxx" -DLUMENFOLD_SANITIZE=address,undefined \
    -DLUMENFOLD_BUILD_FUZZ=ON -DLUMENFOLD_BUILD_TESTS=OFF || return 1
  cmake --build $build -j "$JOBS" --target fuzz_targets || return 1
  rm -rf $build/logs $build/artifacts && mkdir -p $build/logs $build/artifacts
  local targets=() pids=() t
  for exe in $build/fuzz/fuzz_*; do targets+=("${exe##*/fuzz_}"); done
  # New inputs go to a working corpus in the build tree; the committed seeds
  # and regression inputs are only read.
  for t in "${targets[@]}"; do
    mkdir -p $build/corpus/$t
    local dirs=($build/corpus/$t fuzz/corpus/$t)
    [ -d fuzz/regressions/$t ] && dirs+=(fuzz/regressions/$t)
    ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      $build/fuzz/fuzz_$t -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=4096 -close_fd_mask=2 \
      -print_final_stats=1 -artifact_prefix=$build/artifacts/$t- "${dirs[@]}" >$build/logs/$t.log 2>&1 &
    pids+=($!)
  done
  local i
  printf '%-16s %14s %8s  %s\n' target executions corpus result
  for i in "${!targets[@]}"; do
    t=${targets[$i]}
    local rc=0
    wait "${pids[$i]}" || rc=$?
    local execs corpus
    execs=$(sed -n 's/^stat::number_of_executed_units: //p' $build/logs/$t.log)
    corpus=$(find $build/corpus/$t fuzz/corpus/$t -type f | wc -l)
    if [ $rc -eq 0 ]; then
      printf '%-16s %14s %8s  %s\n' "$t" "${execs:-?}" "$corpus" clean
      passed=$((passed + 1))
    else
      printf '%-16s %14s %8s  %s\n' "$t" "${execs:-?}" "$corpus" "FAILED (exit $rc)"
      failed=$((failed + 1))
      tail -n 60 $build/logs/$t.log
      echo "reproduce with: $build/fuzz/fuzz_$t $(ls $build/artifacts/$t-* 2>/dev/null | head -n 1)"
      echo "then keep the input in fuzz/regressions/$t/ so that the test suite replays it"
    fi
  done
  return 0
}

[ $# -gt 0 ] || set -- asan tsan portable fuzz
for step in "$@"; do
  case $step in
    asan) stage "AddressSanitizer + UndefinedBehaviorSanitizer, whole suite" asan ;;
    tsan) stage "ThreadSanitizer, stress and boundary tests" tsan ;;
    portable) stage "portable blends, core tests" portable ;;
    fuzz) fuzz || { echo "== fuzz targets: build FAILED"; failed=$((failed + 1)); } ;;
    *) echo "unknown step $step" >&2; exit 2 ;;
  esac
done
echo "hardening: $passed passed, $failed failed"
[ $failed -eq 0 ]
