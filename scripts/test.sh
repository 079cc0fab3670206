#!/usr/bin/env bash
# scripts/test.sh: install the dependencies, then configure, build and test every build.
#
#   scripts/test.sh                    all three builds: native, i386, sanitize
#   scripts/test.sh native             one build (or several: scripts/test.sh native i386)
#
# Builds (the folders are under build/):
#   native     64-bit, RelWithDebInfo
#   i386       32-bit x86, with the toolchain file cmake/i386.cmake (the programs and tests
#              run through qemu-i386, which scripts/install-deps.sh registers)
#   sanitize   64-bit with -DFMX_SANITIZE=ON (AddressSanitizer + UndefinedBehaviorSanitizer)
#
# Environment:
#   JOBS=N                    parallel build jobs and parallel tests (default: nproc)
#   FMX_SKIP_INSTALL_DEPS=1   do not run scripts/install-deps.sh first
#   FMX_REQUIRE_TESTS=1       a build that has no tests fails (default: a warning)
#   FMX_TEST_TIMEOUT=S        default timeout of one test in seconds (default: 600)
#
# Every build is attempted even when an earlier one fails. The script prints ctest's own
# summary for each build, then a summary of all builds with the time of each stage. It
# exits non-zero when any dependency step, configure, build or test fails.
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT" || exit 1

ALL_BUILDS=(native i386 sanitize)
JOBS=${JOBS:-$(nproc)}
TEST_TIMEOUT=${FMX_TEST_TIMEOUT:-600}

log() { printf '[test.sh] %s\n' "$*"; }
usage() { sed -n '2,21p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; }

builds=()
for arg in "$@"; do
  case $arg in
    -h|--help) usage; exit 0 ;;
    native|i386|sanitize) builds+=("$arg") ;;
    *) printf 'unknown build "%s"\n\n' "$arg" >&2; usage >&2; exit 2 ;;
  esac
done
[ ${#builds[@]} -gt 0 ] || builds=("${ALL_BUILDS[@]}")

start_all=$SECONDS
summary=()
failures=()
total_passed=0
total_failed=0

if [ "${FMX_SKIP_INSTALL_DEPS:-0}" != 1 ]; then
  t0=$SECONDS
  log "== dependencies (scripts/install-deps.sh)"
  if ! bash "$ROOT/scripts/install-deps.sh"; then
    log "FAILED: scripts/install-deps.sh"
    exit 1
  fi
  summary+=("$(printf '%-9s %5d s' deps $((SECONDS - t0)))")
fi

configure_args() {
  case $1 in
    native) ;;
    i386)
      # The toolchain file only counts on the first configure of a build folder: a folder
      # that was configured without it is configured anew.
      if [ -f build/i386/CMakeCache.txt ] &&
         ! grep -qx "CMAKE_TOOLCHAIN_FILE:FILEPATH=$ROOT/cmake/i386.cmake" build/i386/CMakeCache.txt; then
        rm -rf build/i386/CMakeCache.txt build/i386/CMakeFiles
      fi
      [ -f build/i386/CMakeCache.txt ] ||
        printf '%s\n' "-DCMAKE_TOOLCHAIN_FILE=$ROOT/cmake/i386.cmake" ;;
    sanitize) printf '%s\n' -DFMX_SANITIZE=ON ;;
  esac
}

run_build() {
  local name=$1 dir=build/$1 t0 t_conf t_build t_test result=ok line
  local -a args
  mapfile -t args < <(configure_args "$name")

  log "== $name: configure"
  t0=$SECONDS
  if ! cmake -S . -B "$dir" "${args[@]}"; then
    failures+=("$name: configure")
    summary+=("$(printf '%-9s configure FAILED after %d s' "$name" $((SECONDS - t0)))")
    return
  fi
  t_conf=$((SECONDS - t0))
  log "$name: configure took $t_conf s"

  log "== $name: build (-j$JOBS)"
  t0=$SECONDS
  if ! cmake --build "$dir" -j "$JOBS"; then
    failures+=("$name: build")
    summary+=("$(printf '%-9s configure %4d s  build FAILED after %d s' "$name" "$t_conf" $((SECONDS - t0)))")
    return
  fi
  t_build=$((SECONDS - t0))
  log "$name: build took $t_build s"

  log "== $name: test"
  t0=$SECONDS
  local -a test_env=()
  if [ "$name" = sanitize ]; then
    # umockdev's preload library comes before the ASan runtime in the library list.
    test_env=("ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
              "UBSAN_OPTIONS=${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}print_stacktrace=1")
  fi
  local -a no_tests=(--no-tests=ignore)
  [ "${FMX_REQUIRE_TESTS:-0}" = 1 ] && no_tests=(--no-tests=error)
  env "${test_env[@]}" ctest --test-dir "$dir" --output-on-failure -j "$JOBS" \
      --timeout "$TEST_TIMEOUT" "${no_tests[@]}" 2>&1 | tee "$dir/ctest.log"
  local rc=${PIPESTATUS[0]}
  t_test=$((SECONDS - t0))
  log "$name: test took $t_test s"

  # ctest's closing line: "100% tests passed, 0 tests failed out of 57"
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$dir/ctest.log" | tail -1)
  if [ -n "$line" ]; then
    local failed total
    failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
    total_passed=$((total_passed + total - failed))
    total_failed=$((total_failed + failed))
  elif [ "$rc" -eq 0 ] || grep -q 'No tests were found' "$dir/ctest.log"; then
    line="no tests"
    log "WARNING: $name has no tests"
  else
    line="ctest printed no summary"
  fi
  if [ "$rc" -ne 0 ]; then
    result=FAILED
    failures+=("$name: test ($line)")
    while IFS= read -r t; do failures+=("    ${t#"${t%%[![:space:]]*}"}"); done < <(
      sed -n '/^The following tests FAILED:/,/^Errors while running CTest/p' "$dir/ctest.log" |
        grep -Ev '^(The following tests FAILED:|Errors while running CTest)')
  fi
  summary+=("$(printf '%-9s configure %4d s  build %4d s  test %4d s  %-6s %s' \
    "$name" "$t_conf" "$t_build" "$t_test" "$result" "$line")")
}

for b in "${builds[@]}"; do
  run_build "$b"
done

echo
log "== summary"
printf '%s\n' "${summary[@]}"
printf 'total     %5d s\n' $((SECONDS - start_all))
if [ ${#failures[@]} -gt 0 ]; then
  echo
  log "FAILED:"
  printf '  %s\n' "${failures[@]}"
fi
echo
echo "tests: $total_passed passed, $total_failed failed"
[ ${#failures[@]} -eq 0 ]
