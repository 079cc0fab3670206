#!/usr/bin/env bash
# scripts/demo.sh: the demonstration. It builds the 64-bit programs and runs them on
# emulated controllers.
#
#   scripts/demo.sh
#
# Steps: scripts/install-deps.sh, configure and build build/native, then run under the
# emulator (fmxsim, built-in default scenario: two controllers):
#   - sasburn -listall, the table of the controllers that sasburn discovers, when sasburn
#     is built;
#   - otherwise a listing of the emulated control device nodes.
# Without the emulator nothing can be shown: the script says so and exits with status 1.
#
# Environment: JOBS=N parallel build jobs (default: nproc); FMX_SKIP_INSTALL_DEPS=1 skips
# scripts/install-deps.sh.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
JOBS=${JOBS:-$(nproc)}
BUILD=build/native

log() { printf '[demo.sh] %s\n' "$*"; }
# Print a command as it would be typed, then run it.
run() {
  local a line='$'
  for a in "$@"; do
    if [[ $a =~ ^[A-Za-z0-9_./=:@%+-]+$ ]]; then line+=" $a"; else line+=" '${a//\'/\'\\\'\'}'"; fi
  done
  printf '\n%s\n' "$line"
  "$@"
}

if [ "${FMX_SKIP_INSTALL_DEPS:-0}" != 1 ]; then
  log "checking the dependencies (scripts/install-deps.sh)"
  bash scripts/install-deps.sh
fi

log "building $BUILD (log: $BUILD/demo-build.log)"
mkdir -p "$BUILD"
{ cmake -S . -B "$BUILD" && cmake --build "$BUILD" -j "$JOBS"; } >"$BUILD/demo-build.log" 2>&1 ||
  { tail -n 60 "$BUILD/demo-build.log"; log "the build failed (full log: $BUILD/demo-build.log)"; exit 1; }

FMXSIM=$BUILD/sim/fmxsim
SASBURN=$BUILD/flasher/sasburn

if [ ! -x "$FMXSIM" ]; then
  log "the emulator is not built yet ($FMXSIM is missing): nothing to demonstrate"
  exit 1
fi

echo
echo "The emulator's default scenario: two SAS-2 controllers behind the driver's control"
echo "device nodes. The programs below run unchanged; fmxsim answers their ioctls."

if [ -x "$SASBURN" ]; then
  run "$FMXSIM" -- "$SASBURN" -listall
else
  log "sasburn is not built yet; showing the emulated control device nodes instead"
  run "$FMXSIM" -- sh -c 'ls -l /dev/fmx*'
fi
