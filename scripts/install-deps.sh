#!/usr/bin/env bash
# scripts/install-deps.sh: install and check everything that the builds and tests need,
# on Debian 12 (bookworm), amd64.
#
# You can run it more than once. Each step first checks whether it is already done and
# skips it if so, which makes a second run take a few seconds. It then checks that the
# step works:
#   1. Debian packages for the 64-bit build, the sanitizer build and fuzzing (clang).
#   2. The i386 architecture (dpkg multiarch) and the i386 libraries for the 32-bit build.
#   3. i386 umockdev files that Debian cannot install beside the amd64 ones: the preload
#      library (package umockdev:i386) and the development files (libumockdev-dev:i386),
#      taken from the downloaded packages with dpkg-deb -x.
#   4. binfmt_misc registration of /usr/bin/qemu-i386 for i386 ELF executables (flag F),
#      so that 32-bit programs and their children run like native ones.
#   5. Checks: a -m32 program runs (and execs a 32-bit child); a -m32 gtest program links
#      and runs; a 64-bit and a 32-bit umockdev program host a test bed, open an emulated
#      node and get ioctl answers while the matching preload library is loaded; clang
#      builds and runs a libFuzzer program.
#
# Needs root, or sudo when it is not run as root. Reads no standard input.
# Exit status: 0 when everything is in place and works, non-zero otherwise.
set -euo pipefail

log() { printf '[install-deps] %s\n' "$*"; }
die() { printf '[install-deps] ERROR: %s\n' "$*" >&2; exit 1; }

if [ "$(id -u)" -eq 0 ]; then
  as_root() { "$@"; }
else
  command -v sudo >/dev/null 2>&1 || die "not root and sudo is not installed"
  as_root() { sudo "$@"; }
fi

[ -r /etc/debian_version ] || die "this script is for Debian 12 (no /etc/debian_version)"
[ "$(dpkg --print-architecture)" = amd64 ] || die "this script is for an amd64 host"

I386_LIBDIR=/usr/lib/i386-linux-gnu
PRELOAD_I386=$I386_LIBDIR/libumockdev-preload.so.0
STAMP_DIR=/var/lib/fmx-install-deps
BINFMT_DIR=/proc/sys/fs/binfmt_misc
QEMU_I386=/usr/bin/qemu-i386

# Debian packages. The i386 umockdev development files are not listed here: Debian's
# libumockdev-dev is not Multi-Arch "same", so libumockdev-dev:i386 would remove the amd64
# package; step 3 takes its files from the package instead (libumockdev0:i386, which it
# needs at run time, is Multi-Arch "same" and is installed as usual).
NATIVE_PACKAGES=(
  cmake make g++ g++-multilib pkg-config
  googletest libgtest-dev
  umockdev libumockdev-dev libglib2.0-dev
  nlohmann-json3-dev
  qemu-user valgrind
  clang libclang-rt-dev   # libclang-rt-dev: the sanitizer and libFuzzer runtimes for clang
  llvm                    # llvm-symbolizer for sanitizer stacks; llvm-cov, llvm-profdata (fuzz.sh --long)
  dpkg-dev man-db         # cpack's dpkg-shlibdeps; man and groff for the manual page tests
)
I386_PACKAGES=(
  libc6-dev:i386 libgtest-dev:i386 libglib2.0-dev:i386 libumockdev0:i386
)

APT_OPTS=(-y -q --no-install-recommends -o DPkg::Lock::Timeout=600)
apt_get() { as_root env DEBIAN_FRONTEND=noninteractive apt-get "${APT_OPTS[@]}" "$@"; }

TMP_ROOT=$(mktemp -d)
chmod 755 "$TMP_ROOT"   # apt-get download runs as user _apt and must reach its folder
trap 'rm -rf "$TMP_ROOT"' EXIT
new_tmpdir() { mktemp -d "$TMP_ROOT/XXXXXX"; }

# is_installed NAME or NAME:ARCH. A bare NAME means the amd64 (or "all") package: with
# i386 added, dpkg-query also reports an i386 package of the same name.
is_installed() {
  local name=${1%%:*} arch=amd64
  [ "$name" = "$1" ] || arch=${1#*:}
  dpkg-query -W -f='${db:Status-Status} ${Architecture}\n' "$name" 2>/dev/null |
    grep -Eqx "installed ($arch|all)"
}

missing_packages() {
  local p
  for p in "$@"; do is_installed "$p" || printf '%s\n' "$p"; done
}

# ---------------------------------------------------------------------------- 1 + 2
step_packages() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "adding the i386 architecture"
    as_root dpkg --add-architecture i386
  fi
  local missing
  mapfile -t missing < <(missing_packages "${NATIVE_PACKAGES[@]}" "${I386_PACKAGES[@]}")
  if [ ${#missing[@]} -eq 0 ]; then
    log "packages: all installed"
    return
  fi
  log "packages: installing ${missing[*]}"
  apt_get update
  # Multi-Arch "same" packages need the same version for amd64 and i386, so an amd64
  # library may be upgraded along with its new i386 twin.
  apt_get install "${missing[@]}"
  mapfile -t missing < <(missing_packages "${NATIVE_PACKAGES[@]}" "${I386_PACKAGES[@]}")
  [ ${#missing[@]} -eq 0 ] || die "still not installed: ${missing[*]}"
}

# ---------------------------------------------------------------------------- 3
step_umockdev_i386() {
  local version stamp
  version=$(dpkg-query -W -f='${Version}' umockdev)
  stamp=$STAMP_DIR/umockdev-i386
  if [ -f "$PRELOAD_I386" ] && [ -f "$I386_LIBDIR/pkgconfig/umockdev-1.0.pc" ] &&
     [ -e "$I386_LIBDIR/libumockdev.so" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$version" ]; then
    log "i386 umockdev files: present ($version)"
    return
  fi
  log "i386 umockdev files: fetching umockdev:i386 and libumockdev-dev:i386 $version"
  local tmp
  tmp=$(new_tmpdir)
  chmod 777 "$tmp"   # apt-get download writes there as user _apt
  if ! (cd "$tmp" && apt-get -q download "umockdev:i386=$version" "libumockdev-dev:i386=$version"); then
    log "download failed; updating the package lists and trying again"
    apt_get update
    (cd "$tmp" && apt-get -q download "umockdev:i386=$version" "libumockdev-dev:i386=$version") ||
      die "cannot download umockdev:i386 / libumockdev-dev:i386 $version"
  fi
  local deb
  for deb in "$tmp"/*.deb; do dpkg-deb -x "$deb" "$tmp/root"; done
  local src=$tmp/root$I386_LIBDIR
  [ -f "$src/libumockdev-preload.so.0.0.0" ] || [ -f "$src/libumockdev-preload.so.0" ] ||
    die "no libumockdev-preload.so.0 in umockdev:i386"
  [ -f "$src/pkgconfig/umockdev-1.0.pc" ] || die "no umockdev-1.0.pc in libumockdev-dev:i386"
  # cp -L: the package ships libumockdev-preload.so.0 as a symlink to the versioned file.
  as_root install -d "$I386_LIBDIR/pkgconfig" "$STAMP_DIR"
  as_root cp -L "$src/libumockdev-preload.so.0" "$PRELOAD_I386"
  as_root chmod 644 "$PRELOAD_I386"
  as_root install -m 644 "$src/pkgconfig/umockdev-1.0.pc" "$I386_LIBDIR/pkgconfig/umockdev-1.0.pc"
  as_root ln -sfn libumockdev.so.0 "$I386_LIBDIR/libumockdev.so"
  [ -e "$I386_LIBDIR/libumockdev.so" ] || die "$I386_LIBDIR/libumockdev.so.0 missing (libumockdev0:i386)"
  as_root ldconfig
  printf '%s\n' "$version" | as_root tee "$stamp" >/dev/null
  log "i386 umockdev files: installed"
}

# ---------------------------------------------------------------------------- 4
# The i386 ELF magic and mask that QEMU's own qemu-binfmt-conf.sh uses (executables and
# position-independent executables, e_machine EM_386).
I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

binfmt_ok() {
  local e=$BINFMT_DIR/qemu-i386
  [ -r "$e" ] && grep -qx enabled "$e" && grep -qx "interpreter $QEMU_I386" "$e" &&
    grep -q '^flags: .*F' "$e"
}

step_binfmt() {
  [ -x "$QEMU_I386" ] || die "$QEMU_I386 missing (package qemu-user)"
  if [ ! -e "$BINFMT_DIR/register" ]; then
    log "binfmt_misc: mounting $BINFMT_DIR"
    as_root mount -t binfmt_misc binfmt_misc "$BINFMT_DIR" ||
      die "cannot mount binfmt_misc (is the module available?)"
  fi
  if binfmt_ok; then
    log "binfmt_misc: qemu-i386 registered"
    return
  fi
  if [ -e "$BINFMT_DIR/qemu-i386" ]; then
    log "binfmt_misc: replacing the existing qemu-i386 entry"
    echo -1 | as_root tee "$BINFMT_DIR/qemu-i386" >/dev/null
  fi
  log "binfmt_misc: registering $QEMU_I386 for i386 ELF (flag F)"
  printf ':qemu-i386:M::%s:%s:%s:F' "$I386_MAGIC" "$I386_MASK" "$QEMU_I386" |
    as_root tee "$BINFMT_DIR/register" >/dev/null
  binfmt_ok || die "binfmt_misc registration of qemu-i386 did not take"
}

# ---------------------------------------------------------------------------- 5
write_probe_sources() {
  cat >"$1/hello.c" <<'EOF'
#include <stdio.h>
#include <string.h>
#include <unistd.h>
int main(int argc, char **argv) {
  if (argc > 1 && strcmp(argv[1], "child") == 0) {
    printf("child-%zu\n", sizeof(void *) * 8);
    return 0;
  }
  fflush(stdout);
  execl("/proc/self/exe", argv[0], "child", (char *)NULL);  /* a 32-bit child */
  perror("execl");
  return 1;
}
EOF
  cat >"$1/fuzz.c" <<'EOF'
#include <stddef.h>
#include <stdint.h>
int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) { (void)data; (void)size; return 0; }
EOF
  cat >"$1/gtest.cc" <<'EOF'
#include <gtest/gtest.h>
TEST(Probe, PointerWidth) { EXPECT_EQ(sizeof(void *), 4u); }
EOF
  cat >"$1/umockdev.c" <<'EOF'
/* Host a test bed with one node and answer one ioctl, in this very process. */
#include <umockdev.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <unistd.h>
#define PROBE_REQUEST 0xC0044C7Fu
static gboolean on_ioctl(UMockdevIoctlBase *base, UMockdevIoctlClient *client, gpointer data) {
  (void)base; (void)data;
  if (umockdev_ioctl_client_get_request(client) != PROBE_REQUEST) return FALSE;
  GError *error = NULL;
  UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
  UMockdevIoctlData *value = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), &error);
  if (value == NULL) { umockdev_ioctl_client_complete(client, -1, EFAULT); return TRUE; }
  *(guint32 *)value->data = 0x600DF00Du;
  umockdev_ioctl_client_complete(client, (glong)(sizeof(void *) * 8), 0);
  return TRUE;
}
int main(void) {
  UMockdevTestbed *bed = umockdev_testbed_new();
  GError *error = NULL;
  if (!umockdev_testbed_add_from_string(bed,
        "P: /devices/virtual/misc/fmxprobe\nN: fmxprobe\nE: DEVNAME=/dev/fmxprobe\n"
        "E: SUBSYSTEM=misc\nA: dev=10:201\n", &error)) {
    fprintf(stderr, "add_from_string: %s\n", error->message); return 3;
  }
  UMockdevIoctlBase *handler = umockdev_ioctl_base_new();
  g_signal_connect(handler, "handle-ioctl", G_CALLBACK(on_ioctl), NULL);
  if (!umockdev_testbed_attach_ioctl(bed, "/dev/fmxprobe", handler, &error)) {
    fprintf(stderr, "attach_ioctl: %s\n", error->message); return 4;
  }
  int fd = open("/dev/fmxprobe", O_RDWR);
  if (fd < 0) { perror("open /dev/fmxprobe"); return 5; }
  guint32 value = 0;
  int r = ioctl(fd, PROBE_REQUEST, &value);
  close(fd);
  if (r != (int)(sizeof(void *) * 8) || value != 0x600DF00Du) {
    fprintf(stderr, "ioctl answered %d, value 0x%08x\n", r, value); return 6;
  }
  printf("umockdev-%d\n", r);
  return 0;
}
EOF
}

step_verify() {
  local tmp
  tmp=$(new_tmpdir)
  write_probe_sources "$tmp"
  local pc32=$I386_LIBDIR/pkgconfig out
  local UMOCKDEV64 UMOCKDEV32 GTEST32
  UMOCKDEV64=$(pkg-config --cflags --libs umockdev-1.0) || die "pkg-config umockdev-1.0 failed"
  UMOCKDEV32=$(PKG_CONFIG_PATH=$pc32 PKG_CONFIG_LIBDIR=$pc32 pkg-config --cflags --libs umockdev-1.0) ||
    die "pkg-config (i386) umockdev-1.0 failed"
  GTEST32=$(PKG_CONFIG_PATH=$pc32 PKG_CONFIG_LIBDIR=$pc32 pkg-config --cflags --libs gtest_main) ||
    die "pkg-config (i386) gtest_main failed"

  # Compile the probes in parallel; gtest is the slow one.
  # shellcheck disable=SC2086
  {
    gcc -m32 -O1 -o "$tmp/hello32" "$tmp/hello.c" >"$tmp/hello32.log" 2>&1 & p1=$!
    g++ -m32 -O1 -o "$tmp/gtest32" "$tmp/gtest.cc" $GTEST32 >"$tmp/gtest32.log" 2>&1 & p2=$!
    gcc -O1 -o "$tmp/umockdev64" "$tmp/umockdev.c" $UMOCKDEV64 >"$tmp/umockdev64.log" 2>&1 & p3=$!
    gcc -m32 -O1 -o "$tmp/umockdev32" "$tmp/umockdev.c" $UMOCKDEV32 >"$tmp/umockdev32.log" 2>&1 & p4=$!
    clang -fsanitize=fuzzer,address -o "$tmp/fuzz" "$tmp/fuzz.c" >"$tmp/fuzz.log" 2>&1 & p5=$!
  }
  local name pid failed=0
  for name in hello32:$p1 gtest32:$p2 umockdev64:$p3 umockdev32:$p4 fuzz:$p5; do
    pid=${name#*:}; name=${name%%:*}
    if ! wait "$pid"; then cat "$tmp/$name.log" >&2; log "FAILED: compiling $name"; failed=1; fi
  done
  [ $failed -eq 0 ] || die "a probe program did not build"

  out=$("$tmp/hello32" 2>&1) || die "a -m32 program does not run: $out"
  [ "$out" = child-32 ] || die "a -m32 program and its 32-bit child: unexpected output '$out'"
  file_is_elf32 "$tmp/hello32" || die "hello32 is not a 32-bit ELF"
  log "check: a -m32 program runs, and so does the 32-bit child it execs"

  out=$("$tmp/gtest32" 2>&1) || { printf '%s\n' "$out" >&2; die "a -m32 gtest program fails"; }
  log "check: a -m32 gtest program links and passes"

  # The bare name, as umockdev-wrapper and the tests use it: every process (the 64-bit
  # qemu-i386 under a 32-bit program included) loads the library of its own architecture.
  # Stderr must stay empty: a full i386 path would make qemu-i386's own loader complain.
  local preload
  for preload in libumockdev-preload.so.0 /usr/lib/x86_64-linux-gnu/libumockdev-preload.so.0; do
    out=$(LD_PRELOAD=$preload "$tmp/umockdev64" 2>&1) ||
      { printf '%s\n' "$out" >&2; die "the 64-bit umockdev probe fails (LD_PRELOAD=$preload)"; }
    [ "$out" = umockdev-64 ] || die "64-bit umockdev probe (LD_PRELOAD=$preload): unexpected output '$out'"
  done
  out=$(LD_PRELOAD=libumockdev-preload.so.0 "$tmp/umockdev32" 2>&1) ||
    { printf '%s\n' "$out" >&2; die "the 32-bit umockdev probe fails"; }
  [ "$out" = umockdev-32 ] || die "32-bit umockdev probe: unexpected output '$out'"
  out=$(LD_PRELOAD=$PRELOAD_I386 "$tmp/umockdev32" 2>/dev/null) ||
    die "the 32-bit umockdev probe fails with LD_PRELOAD=$PRELOAD_I386"
  [ "$out" = umockdev-32 ] || die "32-bit umockdev probe (LD_PRELOAD=$PRELOAD_I386): unexpected output '$out'"
  out=$("$tmp/umockdev32" 2>&1) && die "the 32-bit umockdev probe passes without the preload library?"
  log "check: 64-bit and 32-bit programs host a umockdev test bed and get ioctl answers"

  out=$("$tmp/fuzz" -runs=10 2>&1) || { printf '%s\n' "$out" >&2; die "a clang libFuzzer program fails"; }
  log "check: clang builds and runs a libFuzzer + AddressSanitizer program"
}

file_is_elf32() {
  # Byte 4 of the ELF header (EI_CLASS) is 1 for 32-bit.
  [ "$(od -An -tu1 -j4 -N1 "$1" | tr -d ' ')" = 1 ]
}

start=$SECONDS
step_packages
step_umockdev_i386
step_binfmt
step_verify
log "all dependencies in place ($((SECONDS - start)) s)"
