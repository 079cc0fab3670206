#!/usr/bin/env bash
# scripts/demo.sh: the demonstration. It builds the 64-bit programs and runs them on
# emulated controllers.
#
#   scripts/demo.sh
#
# Steps: scripts/install-deps.sh, configure and build build/native, then, under the
# emulator (fmxsim, built-in default scenario: a Q520 at index 0 and a Q510i at index 1):
#   1. sasburn -listall             the controllers and their firmware versions
#   2. sasburn -c 0 -f q520_14.bin  a firmware flash of the Q520 to 14.00.00.00
#   3. updater /c /s                firmware.cfg names 12.00.03.00 for the Q510i: updater
#                                   flashes it without asking and exits with 1 (updated)
#   4. sasburn -listall             both controllers with their new versions
# Each step continues from the controllers' state after the one before (fmxsim
# --save-state). The images are made with fwimage in a temporary folder, which also holds
# firmware.cfg and the two programs (updater runs ./sasburn from its working directory).
# As root, updater's log (/var/qxc/Component.log) goes to that folder: updater runs in a
# private mount namespace with the folder's var/ over /var, and the log is shown at the end.
#
# Environment: JOBS=N parallel build jobs (default: nproc); FMX_SKIP_INSTALL_DEPS=1 skips
# scripts/install-deps.sh; FMX_DEMO_BUILD=DIR uses DIR instead of build/native;
# FMX_DEMO_NO_BUILD=1 uses the programs already built there (no configure, no build).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
JOBS=${JOBS:-$(nproc)}
BUILD=${FMX_DEMO_BUILD:-build/native}

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
# show_run TEXT COMMAND...: print TEXT as the command typed, then run COMMAND (the same
# command with the paths and options of the demonstration's own bookkeeping).
show_run() {
  printf '\n$ %s\n' "$1"
  shift
  "$@"
}

if [ "${FMX_SKIP_INSTALL_DEPS:-0}" != 1 ]; then
  log "checking the dependencies (scripts/install-deps.sh)"
  bash scripts/install-deps.sh
fi

if [ "${FMX_DEMO_NO_BUILD:-0}" != 1 ]; then
  log "building $BUILD (log: $BUILD/demo-build.log)"
  mkdir -p "$BUILD"
  { cmake -S . -B "$BUILD" && cmake --build "$BUILD" -j "$JOBS"; } >"$BUILD/demo-build.log" 2>&1 ||
    { tail -n 60 "$BUILD/demo-build.log"; log "the build failed (full log: $BUILD/demo-build.log)"; exit 1; }
fi
BUILD=$(cd "$BUILD" && pwd)

FMXSIM=$BUILD/sim/fmxsim
FWIMAGE=$BUILD/sim/fwimage
for program in "$FMXSIM" "$FWIMAGE" "$BUILD/flasher/sasburn" "$BUILD/updater/updater"; do
  [ -x "$program" ] || { log "$program is not built: nothing to demonstrate"; exit 1; }
done

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
ln -s "$BUILD/flasher/sasburn" sasburn
ln -s "$BUILD/updater/updater" updater
"$FWIMAGE" q520_14.bin --version 14.00.00.00 --nvdata product=Q520 --code-size 0x50000
"$FWIMAGE" q510i_12_3.bin --version 12.00.03.00 --kind it --device 0x70 \
  --nvdata product=Q510i,device=0x70 --code-size 0x48000
cat >firmware.cfg <<'EOF'
# model, firmware version, image file
Q510i, 12.00.03.00, q510i_12_3.bin
EOF

mkdir -p var/qxc
private_var=()
# shellcheck disable=SC2016 # the inner shell expands "$0" and "$@"
if unshare --mount --propagation private sh -c 'mount --bind "$0" /var' "$WORK/var" 2>/dev/null; then
  private_var=(unshare --mount --propagation private sh -c 'mount --bind "$0" /var && exec "$@"' "$WORK/var")
fi

echo
echo "The emulator's default scenario: two SAS-2 controllers behind the driver's control"
echo "device nodes. The programs below run unchanged; fmxsim answers their ioctls, and each"
echo "step starts from the controllers as the step before left them."

show_run "fmxsim -- ./sasburn -listall" \
  "$FMXSIM" --save-state 1.json -- ./sasburn -listall
show_run "fmxsim -- ./sasburn -c 0 -f q520_14.bin" \
  "$FMXSIM" 1.json --save-state 2.json -- ./sasburn -c 0 -f q520_14.bin

# updater always logs to /var/qxc/Component.log; the demonstration writes only
# inside its own working directory, so without a private /var it leaves updater out.
last_state=2.json
if [ ${#private_var[@]} -gt 0 ]; then
  run cat firmware.cfg
  status=0
  show_run "fmxsim -- ./updater /c /s" \
    "${private_var[@]}" "$FMXSIM" 2.json --save-state 3.json -- ./updater /c /s || status=$?
  echo "(updater exit status: $status)"
  [ "$status" -eq 1 ] || { log "updater should have exited with 1 (updated), not $status"; exit 1; }
  last_state=3.json
else
  log "no private mount namespace for /var here (it needs root): updater is left out"
fi

show_run "fmxsim -- ./sasburn -listall" \
  "$FMXSIM" "$last_state" -- ./sasburn -listall

if [ ${#private_var[@]} -gt 0 ]; then
  show_run "cat /var/qxc/Component.log" cat var/qxc/Component.log
fi
