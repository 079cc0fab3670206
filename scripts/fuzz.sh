#!/usr/bin/env bash
# scripts/fuzz.sh: build the libFuzzer targets (fuzz/, in build-fuzz with clang) and run
# each one for a bounded time.
#
#   scripts/fuzz.sh                 every target for FUZZ_TIME seconds (default 60); CI runs this
#   scripts/fuzz.sh --long          every target for FUZZ_TIME seconds (default 600); then
#                                   the source lines and branches each target reached, file
#                                   by file (a coverage build in build-fuzz/coverage)
#   scripts/fuzz.sh scenario numbers    only these targets (either mode)
#   scripts/fuzz.sh --list          the target names
#
# Each run starts from the seed corpus that the build makes (build-fuzz/corpus/<target>,
# from the image builders) and from what earlier runs kept (build-fuzz/kept/<target>).
# Inputs that crash, leak, trip AddressSanitizer or UndefinedBehaviorSanitizer, run out
# of memory or take longer than FUZZ_INPUT_TIMEOUT go to build-fuzz/artifacts/<target>/;
# reproduce one with build-fuzz/fuzz_<target> FILE. The script prints one line per
# target (executions, executions per second, edges covered of those instrumented,
# features, corpus size) and exits non-zero when any target found something or did not
# run.
#
# Environment:
#   FUZZ_TIME=S            seconds per target (default 60, or 600 with --long)
#   FUZZ_JOBS=N            targets run side by side (default: 2, at most nproc)
#   FUZZ_INPUT_TIMEOUT=S   one input running longer than this is a finding (default 25)
#   JOBS=N                 parallel build jobs (default 2)
#   CC, CXX                compilers for a fresh build-fuzz (default clang, clang++)
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT" || exit 1
BUILD=$ROOT/build-fuzz

log() { printf '[fuzz.sh] %s\n' "$*"; }
usage() { sed -n '2,/^set /{/^#/p}' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; }

long=0
list=0
targets=()
for arg in "$@"; do
  case $arg in
    -h|--help) usage; exit 0 ;;
    --long) long=1 ;;
    --list) list=1 ;;
    -*) printf 'unknown option "%s"\n\n' "$arg" >&2; usage >&2; exit 2 ;;
    *) targets+=("$arg") ;;
  esac
done

if [ "$long" = 1 ]; then TIME=${FUZZ_TIME:-600}; else TIME=${FUZZ_TIME:-60}; fi
cores=$(nproc)
FUZZ_JOBS=${FUZZ_JOBS:-$((cores < 2 ? cores : 2))}
INPUT_TIMEOUT=${FUZZ_INPUT_TIMEOUT:-25}
JOBS=${JOBS:-2}

# --- build ---------------------------------------------------------------------------
# A build folder configured with another compiler is configured anew: the targets need
# clang's libFuzzer.
if [ -f "$BUILD/CMakeCache.txt" ] &&
   ! grep -Eq '^CMAKE_CXX_COMPILER:[A-Z]+=.*clang\+\+' "$BUILD/CMakeCache.txt"; then
  rm -rf "$BUILD/CMakeCache.txt" "$BUILD/CMakeFiles"
fi
t0=$SECONDS
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  log "== configure $BUILD"
  CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S fuzz -B "$BUILD" || { log "FAILED: configure"; exit 1; }
fi
log "== build (-j$JOBS)"
cmake --build "$BUILD" -j "$JOBS" || { log "FAILED: build"; exit 1; }
log "build took $((SECONDS - t0)) s"

mapfile -t all_targets < "$BUILD/fuzzers.txt"
if [ "$list" = 1 ]; then printf '%s\n' "${all_targets[@]}"; exit 0; fi
if [ ${#targets[@]} -eq 0 ]; then
  targets=("${all_targets[@]}")
else
  for t in "${targets[@]}"; do
    printf '%s\n' "${all_targets[@]}" | grep -qx "$t" ||
      { printf 'unknown target "%s"; targets: %s\n' "$t" "${all_targets[*]}" >&2; exit 2; }
  done
fi

# --- runs ----------------------------------------------------------------------------
LOGS=$BUILD/logs
mkdir -p "$LOGS"
# Leaks count as findings; UBSan reports end the input (the build also makes every
# check non-recoverable); both sanitizers print a stack.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}print_stacktrace=1:halt_on_error=1

run_target() {
  local t=$1 work=$BUILD/kept/$1 artifacts=$BUILD/artifacts/$1 dict=$ROOT/fuzz/dicts/$1.dict
  local -a args=(-max_total_time="$TIME" -timeout="$INPUT_TIMEOUT" -rss_limit_mb=2048
                 -print_final_stats=1 -artifact_prefix="$artifacts/")
  [ -f "$dict" ] && args+=(-dict="$dict")
  rm -rf "$artifacts"
  mkdir -p "$work" "$artifacts"
  "$BUILD/fuzz_$t" "${args[@]}" "$work" "$BUILD/corpus/$t" >"$LOGS/$t.log" 2>&1
  echo $? >"$LOGS/$t.rc"
}

log "== ${#targets[@]} targets, $TIME s each, $FUZZ_JOBS at a time"
t0=$SECONDS
for t in "${targets[@]}"; do
  rm -f "$LOGS/$t.rc" "$LOGS/$t.log"
  while [ "$(jobs -rp | wc -l)" -ge "$FUZZ_JOBS" ]; do wait -n; done
  log "running $t"
  run_target "$t" &
done
wait
log "runs took $((SECONDS - t0)) s"

# --- report --------------------------------------------------------------------------
stat() { sed -n "s/^stat::$1: *//p" "$2" | tail -1; }
failures=()
printf '\n%-15s %6s %12s %9s %15s %7s %7s  %s\n' target status executions exec/s "edges covered" features corpus findings
for t in "${targets[@]}"; do
  logf=$LOGS/$t.log
  rc=$(cat "$LOGS/$t.rc" 2>/dev/null || echo '?')
  execs=$(stat number_of_executed_units "$logf")
  rate=$(stat average_exec_per_sec "$logf")
  counters=$(sed -n 's/^INFO: Loaded [0-9]* modules *(\([0-9]*\) inline 8-bit counters).*/\1/p' "$logf" | head -1)
  last=$(grep -E ' cov: [0-9]+ ' "$logf" | tail -1)
  cov=$(sed -E 's/.* cov: ([0-9]+) .*/\1/' <<<"$last")
  ft=$(sed -E 's/.* ft: ([0-9]+) .*/\1/' <<<"$last")
  corp=$(sed -E 's/.* corp: ([0-9]+)\/.*/\1/' <<<"$last")
  found=$(find "$BUILD/artifacts/$t" -type f | wc -l)
  status=ok
  if [ "$rc" != 0 ] || [ "$found" -gt 0 ] || [ -z "$execs" ] ||
     grep -Eq 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|SUMMARY: UndefinedBehaviorSanitizer' "$logf"; then
    status=FAILED
    failures+=("$t")
  fi
  coverage=-
  if [ -n "$cov" ] && [ -n "$counters" ] && [ "$counters" -gt 0 ]; then
    coverage=$(awk -v c="$cov" -v n="$counters" 'BEGIN { printf "%d/%d %4.1f%%", c, n, 100 * c / n }')
  fi
  printf '%-15s %6s %12s %9s %15s %7s %7s  %s\n' "$t" "$status" "${execs:--}" "${rate:--}" \
    "$coverage" "${ft:--}" "${corp:--}" "$found"
done
echo "(edges: of all code linked into the target, the product's and the libraries'; logs in $LOGS)"

if [ "$long" = 1 ]; then
  # Source coverage: the same targets built with clang's profile instrumentation (no
  # sanitizers) in build-fuzz/coverage replay each corpus once; llvm-cov counts the
  # lines and branches of this repository's files that ran (the fuzz programs and the
  # image builders that make their fixed inputs left out).
  COV=$BUILD/coverage
  echo
  log "== coverage build ($COV)"
  if [ ! -f "$COV/CMakeCache.txt" ]; then
    CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S fuzz -B "$COV" -DFMX_FUZZ_COVERAGE=ON >/dev/null ||
      { log "FAILED: configure $COV"; exit 1; }
  fi
  cov_targets=()
  for t in "${targets[@]}"; do cov_targets+=(--target "fuzz_$t"); done
  cmake --build "$COV" -j "$JOBS" "${cov_targets[@]}" >"$LOGS/coverage-build.log" 2>&1 ||
    { log "FAILED: coverage build (see $LOGS/coverage-build.log)"; exit 1; }
  for t in "${targets[@]}"; do
    rm -f "$COV/$t".*.profraw
    LLVM_PROFILE_FILE="$COV/$t.%p.profraw" "$COV/fuzz_$t" -runs=0 \
      "$BUILD/kept/$t" "$BUILD/corpus/$t" >"$LOGS/$t.coverage.log" 2>&1
    llvm-profdata merge -sparse "$COV/$t".*.profraw -o "$COV/$t.profdata" || continue
    echo
    echo "== $t: source coverage of the corpus ($(find "$BUILD/kept/$t" "$BUILD/corpus/$t" -type f | wc -l) inputs)"
    llvm-cov export -format=lcov "$COV/fuzz_$t" -instr-profile="$COV/$t.profdata" \
        -ignore-filename-regex='(^/usr/|/fuzz/|_image_builder\.(cc|h)$)' 2>/dev/null |
      awk -v root="$ROOT/" '
        BEGIN { printf "  %-36s %17s %17s %17s\n", "file", "lines", "branches", "functions" }
        /^SF:/ { name = substr($0, 4); sub(root, "", name); lf = lh = brf = brh = fnf = fnh = 0 }
        /^LF:/ { lf = substr($0, 4) + 0 }
        /^LH:/ { lh = substr($0, 4) + 0 }
        /^BRF:/ { brf = substr($0, 5) + 0 }
        /^BRH:/ { brh = substr($0, 5) + 0 }
        /^FNF:/ { fnf = substr($0, 5) + 0 }
        /^FNH:/ { fnh = substr($0, 5) + 0 }
        function cell(hit, all) { return sprintf("%6d/%-6d %3.0f%%", hit, all, all ? 100 * hit / all : 100) }
        /^end_of_record/ {
          # Files that no input reached are code linked in for other uses.
          if (lf == 0 || lh == 0) next
          all += lf; hit += lh; ball += brf; bhit += brh
          printf "  %-36s %s %s %s\n", name, cell(lh, lf), cell(brh, brf), cell(fnh, fnf)
        }
        END { if (all) printf "  %-36s %s %s  (files reached)\n", "total", cell(hit, all), cell(bhit, ball) }'
  done
fi

if [ ${#failures[@]} -gt 0 ]; then
  echo
  log "FAILED: ${failures[*]}"
  for t in "${failures[@]}"; do
    echo "---- $t: $LOGS/$t.log (end)"
    grep -E -A25 'ERROR:|runtime error:|fuzz property failed' "$LOGS/$t.log" | head -60
    find "$BUILD/artifacts/$t" -type f -printf '  artifact: %p\n'
  done
  exit 1
fi
log "no findings"
