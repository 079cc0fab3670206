#!/usr/bin/env bash
# tests/release/package_test.sh BUILD_DIR VERSION ARCH
#
# Makes the packages of BUILD_DIR with CPack and checks:
#   - the control fields and that both packages hold exactly the expected files, with the
#     programs executable and the same bytes in both;
#   - dpkg installs the .deb into a scratch root (dpkg --root) and removes it again without
#     a trace;
# then unpacks the .deb into another scratch root (dpkg-deb -x) and the .tar.gz beside it:
#   - the installed sasburn lists the emulated default controllers under the installed
#     fmxsim, run from the installed bin/ (as updater runs it);
#   - a fleet update with the installed updater, fwimage and fmxsim: "updater /c /s" flashes
#     the Q520, exits with 1, logs to /var/qxc/Component.log, and the listing after it
#     shows the new version;
#   - man finds the installed pages through PATH, and they render without warnings;
#   - the .tar.gz kit runs the same way from its own folder.
# The updater step runs in a private mount namespace with a scratch folder over /var; where
# none can be made (not root) everything else is checked and the test is skipped (77).
set -euo pipefail

BUILD=$(cd "$1" && pwd)
VERSION=$2
ARCH=$3

SCRATCH=$(mktemp -d)
if [ -n "${FMX_KEEP_TEMP:-}" ]; then
  echo "scratch folder kept: $SCRATCH"
else
  trap 'rm -rf "$SCRATCH"' EXIT
fi
fail() { printf 'FAIL: %s\n' "$*" >&2; exit 1; }
step() { printf '== %s\n' "$*"; }

# The files of the layout, relative to the install prefix.
EXPECTED_FILES="bin/sasburn
bin/updater
share/doc/sasburn/README.md
share/doc/sasburn/fmxsim.md
share/man/man1/fmxsim.1
share/man/man8/sasburn.8
share/man/man8/updater.8
tools/bootimage
tools/fmxsim
tools/fwimage"
PROGRAMS="bin/sasburn bin/updater tools/fmxsim tools/fwimage tools/bootimage"

step "cpack"
cpack --config "$BUILD/CPackConfig.cmake" -B "$SCRATCH/pkg" >"$SCRATCH/cpack.log" 2>&1 ||
  { cat "$SCRATCH/cpack.log"; fail "cpack failed"; }
DEB=$SCRATCH/pkg/sasburn_${VERSION}_${ARCH}.deb
TGZ=$SCRATCH/pkg/sasburn-${VERSION}-linux-${ARCH}.tar.gz
[ -f "$DEB" ] || { ls -l "$SCRATCH/pkg"; fail "no $(basename "$DEB")"; }
[ -f "$TGZ" ] || { ls -l "$SCRATCH/pkg"; fail "no $(basename "$TGZ")"; }

step "control fields"
for field in Package:sasburn Version:"$VERSION" Architecture:"$ARCH"; do
  got=$(dpkg-deb -f "$DEB" "${field%%:*}")
  [ "$got" = "${field#*:}" ] || fail "${field%%:*} is '$got', not '${field#*:}'"
done
depends=$(dpkg-deb -f "$DEB" Depends)
for lib in libc6 libstdc++6; do
  [[ $depends == *"$lib"* ]] || fail "Depends ($depends) lacks $lib"
done
[ "$(dpkg-deb -f "$DEB" Recommends)" = umockdev ] || fail "Recommends is not umockdev"

step "contents"
deb_files=$(dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./opt/sasburn/||' | sort)
[ "$deb_files" = "$EXPECTED_FILES" ] ||
  fail "the .deb holds other files than expected:$(diff <(echo "$EXPECTED_FILES") <(echo "$deb_files") || true)"
tgz_top=sasburn-$VERSION-linux-$ARCH
tgz_files=$(tar tzf "$TGZ" | grep -v '/$' | sed "s|^$tgz_top/||" | sort)
[ "$tgz_files" = "$EXPECTED_FILES" ] ||
  fail "the .tar.gz holds other files than expected:$(diff <(echo "$EXPECTED_FILES") <(echo "$tgz_files") || true)"

step "dpkg -i and dpkg -r in a scratch root"
DPKG_ROOT=$SCRATCH/dpkg-root
mkdir -p "$DPKG_ROOT/var/lib/dpkg/updates" "$DPKG_ROOT/var/lib/dpkg/info"
touch "$DPKG_ROOT/var/lib/dpkg/status"
[ "$ARCH" = "$(dpkg --print-architecture)" ] || dpkg --root="$DPKG_ROOT" --force-not-root --add-architecture "$ARCH"
# The scratch root's database lists none of the package's dependencies.
dpkg --root="$DPKG_ROOT" --force-depends --force-not-root -i "$DEB" >"$SCRATCH/dpkg.log" 2>&1 ||
  { cat "$SCRATCH/dpkg.log"; fail "dpkg -i failed"; }
dpkg --root="$DPKG_ROOT" -s sasburn | grep -qx 'Status: install ok installed' || fail "dpkg does not list sasburn as installed"
for p in $PROGRAMS; do [ -x "$DPKG_ROOT/opt/sasburn/$p" ] || fail "dpkg -i left no executable /opt/sasburn/$p"; done
dpkg --root="$DPKG_ROOT" --force-not-root -r sasburn >>"$SCRATCH/dpkg.log" 2>&1 || { cat "$SCRATCH/dpkg.log"; fail "dpkg -r failed"; }
[ ! -e "$DPKG_ROOT/opt/sasburn" ] || fail "dpkg -r left $(find "$DPKG_ROOT/opt/sasburn" | head -5)"

dpkg-deb -x "$DEB" "$SCRATCH/root"
tar xzf "$TGZ" -C "$SCRATCH"
PREFIX=$SCRATCH/root/opt/sasburn
KIT=$SCRATCH/$tgz_top
for p in $PROGRAMS; do
  [ -x "$PREFIX/$p" ] || fail "$p is not executable in the .deb"
  [ -x "$KIT/$p" ] || fail "$p is not executable in the .tar.gz"
done
for f in $EXPECTED_FILES; do
  cmp -s "$PREFIX/$f" "$KIT/$f" || fail "$f differs between the .deb and the .tar.gz"
done

# Runs a command, prints its output, fails unless it ends with the given status.
expect_status() {
  local want=$1 status=0
  shift
  "$@" >"$SCRATCH/out.txt" 2>&1 </dev/null || status=$?
  cat "$SCRATCH/out.txt"
  [ "$status" -eq "$want" ] || fail "'$*' exited with $status, not $want"
}
expect_line() {  # a whole line of the last output
  grep -qxF -- "$1" "$SCRATCH/out.txt" || fail "no line '$1' in the output above"
}
# The listing's rows, with their tabs.
ROW_Q520_OLD=$'\t00    Q520               13.00.01.00'
ROW_Q520_NEW=$'\t00    Q520               14.00.00.00'
ROW_Q510I=$'\t01    Q510i              12.00.02.00'

step "the installed sasburn under the installed fmxsim, from bin/"
cd "$PREFIX/bin"
expect_status 0 ../tools/fmxsim -- ./sasburn -listall
expect_line "$ROW_Q520_OLD"
expect_line "$ROW_Q510I"

step "manual pages"
for page in sasburn updater fmxsim; do
  found=$(PATH="$PREFIX/bin:$PATH" man -w "$page")
  case $page in fmxsim) want=$PREFIX/share/man/man1/fmxsim.1 ;; *) want=$PREFIX/share/man/man8/$page.8 ;; esac
  [ "$found" = "$want" ] || fail "man -w $page finds '$found', not the installed page $want"
  warnings=$(groff -man -Tutf8 -ww -z "$found" 2>&1)
  [ -z "$warnings" ] || fail "$page: groff warns: $warnings"
done

step "the .tar.gz kit from its own folder"
cd "$KIT"
expect_status 0 tools/fmxsim -- bin/sasburn -listall
expect_line "$ROW_Q520_OLD"

step "a fleet update with the installed updater"
mkdir -p "$SCRATCH/var/qxc"
# shellcheck disable=SC2016 # the inner shell expands "$0" and "$@"
if ! unshare --mount --propagation private sh -c 'mount --bind "$0" /var' "$SCRATCH/var" 2>/dev/null; then
  echo "SKIPPED: no private mount namespace for the log in /var/qxc (needs root)"
  exit 77
fi
cd "$PREFIX/bin"
expect_status 0 ../tools/fwimage q520_14.bin --version 14.00.00.00 --nvdata product=Q520 --code-size 0x50000
echo 'Q520, 14.00.00.00, q520_14.bin' >firmware.cfg
# One emulator run for both programs, so the listing sees what updater flashed.
# shellcheck disable=SC2016
expect_status 0 unshare --mount --propagation private sh -c 'mount --bind "$0" /var && exec "$@"' \
  "$SCRATCH/var" ../tools/fmxsim -- sh -c './updater /c /s; echo "updater: $?"; ./sasburn -listall'
expect_line "Successfully updated."
expect_line "updater: 1"
expect_line "$ROW_Q520_NEW"
expect_line "$ROW_Q510I"
grep -qxF "Update from 13.00.01.00 to 14.00.00.00" "$SCRATCH/var/qxc/Component.log" ||
  { cat "$SCRATCH/var/qxc/Component.log"; fail "the log lacks the update line"; }
echo "PASS"
