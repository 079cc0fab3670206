#!/usr/bin/env bash
# scripts/memcheck.sh: run the tests once with sasburn and updater under valgrind memcheck.
#
#   scripts/memcheck.sh                 build build-hard (64-bit), run every test but the
#                                       release tests
#   scripts/memcheck.sh -R REGEX        only the tests whose names match (ctest -R)
#
# For the run, build-hard's sasburn and updater programs are replaced by small scripts
# that start the real programs (renamed *.memcheck-bin) under valgrind, and put back at
# the end. So every test that starts one of them -- directly, under fmxsim, or sasburn
# through updater -- runs it under memcheck: the end-to-end suites (e2e.*), the fault
# matrix (faults.*) and updater's binary tests. Tests that link the libraries run as
# usual. Each process writes its own log into <build>/memcheck/ (a child between fork
# and exec is not followed: it holds the parent's memory); the run fails when
# a test fails or any log reports an error: an invalid read or write, a use of an
# uninitialised value, a bad free, or memory leaked (definitely, indirectly or possibly
# lost). scripts/memcheck.supp holds the suppressions (the emulation layer only).
#
# Environment:
#   JOBS=N                   parallel build jobs and parallel tests (default 2)
#   FMX_MEMCHECK_BUILD=DIR   the 64-bit build to use instead of build-hard (CI gives
#                            build/native, which scripts/test.sh has just built)
#   FMX_MEMCHECK_TIMEOUT=S   default timeout of one test (default 1800)
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT" || exit 1
BUILD=${FMX_MEMCHECK_BUILD:-build-hard}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
LOGS=$BUILD/memcheck
JOBS=${JOBS:-2}
TIMEOUT=${FMX_MEMCHECK_TIMEOUT:-1800}

log() { printf '[memcheck.sh] %s\n' "$*"; }
usage() { sed -n '2,/^set /{/^#/p}' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; }

select=(-E '^release\.')
while [ $# -gt 0 ]; do
  case $1 in
    -h|--help) usage; exit 0 ;;
    -R) [ $# -ge 2 ] || { usage >&2; exit 2; }; select=(-R "$2" -E '^release\.'); shift ;;
    *) printf 'unknown argument "%s"\n\n' "$1" >&2; usage >&2; exit 2 ;;
  esac
  shift
done

command -v valgrind >/dev/null || { log "valgrind is not installed: run scripts/install-deps.sh"; exit 1; }

t0=$SECONDS
log "== configure and build $BUILD (-j$JOBS)"
cmake -S . -B "$BUILD" >/dev/null || { log "FAILED: configure"; exit 1; }
cmake --build "$BUILD" -j "$JOBS" || { log "FAILED: build"; exit 1; }
log "build took $((SECONDS - t0)) s"

programs=("$BUILD/flasher/sasburn" "$BUILD/updater/updater")

restore() {
  local p
  for p in "${programs[@]}"; do
    [ -f "$p.memcheck-bin" ] && mv -f "$p.memcheck-bin" "$p"
  done
}
trap restore EXIT

rm -rf "$LOGS"
mkdir -p "$LOGS"
for p in "${programs[@]}"; do
  [ -x "$p" ] || { log "FAILED: $p was not built"; exit 1; }
  name=$(basename "$p")
  mv -f "$p" "$p.memcheck-bin"
  # The wrapper names the real program by its full path: updater starts ./sasburn
  # through a link in a test folder.
  cat >"$p" <<EOF
#!/bin/sh
exec valgrind --tool=memcheck --leak-check=full \\
  --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible \\
  --child-silent-after-fork=yes --num-callers=40 --suppressions='$ROOT/scripts/memcheck.supp' \\
  --log-file='$LOGS/$name.%p.log' '$p.memcheck-bin' "\$@"
EOF
  chmod +x "$p"
done

log "== tests under memcheck (-j$JOBS)"
t0=$SECONDS
ctest --test-dir "$BUILD" --output-on-failure -j "$JOBS" --timeout "$TIMEOUT" "${select[@]}" \
  2>&1 | tee "$LOGS/ctest.log"
test_rc=${PIPESTATUS[0]}
log "tests took $((SECONDS - t0)) s"
restore
trap - EXIT

# --- the logs -----------------------------------------------------------------------
runs=0
bad=()
incomplete=()
for f in "$LOGS"/*.log; do
  [ "$f" = "$LOGS/ctest.log" ] && continue
  runs=$((runs + 1))
  summary=$(grep -E 'ERROR SUMMARY: [0-9]+ errors' "$f" | tail -1)
  if [ -z "$summary" ]; then
    incomplete+=("$f")
  elif ! grep -q 'ERROR SUMMARY: 0 errors' <<<"$summary"; then
    bad+=("$f")
  fi
done
sasburn_runs=$(find "$LOGS" -name 'sasburn.*.log' | wc -l)
updater_runs=$(find "$LOGS" -name 'updater.*.log' | wc -l)

echo
log "== summary"
printf 'processes under memcheck: %d (sasburn %d, updater %d)\n' "$runs" "$sasburn_runs" "$updater_runs"
printf 'with errors or leaks:     %d\n' "${#bad[@]}"
printf 'ended before valgrind could report (killed): %d\n' "${#incomplete[@]}"
grep -E '^[0-9]+% tests passed' "$LOGS/ctest.log" | tail -1

status=0
if [ ${#bad[@]} -gt 0 ]; then
  status=1
  for f in "${bad[@]:0:5}"; do
    echo "---- $f"
    head -80 "$f"
  done
  [ ${#bad[@]} -gt 5 ] && echo "(and $((${#bad[@]} - 5)) more logs with errors in $LOGS)"
fi
if [ ${#incomplete[@]} -gt 0 ]; then
  status=1
  printf '  no summary: %s\n' "${incomplete[@]:0:10}"
fi
if [ "$test_rc" -ne 0 ]; then
  status=1
  log "FAILED: tests (see $LOGS/ctest.log)"
fi
[ "$runs" -gt 0 ] || { status=1; log "FAILED: no process ran under memcheck"; }
[ "$status" -eq 0 ] && log "no memcheck errors, no leaks"
exit "$status"
