#!/usr/bin/env bash
# tests/release/readme_test.sh SOURCE_DIR BUILD_DIR VERSION ARCH [--no-callgrind]
#
# Runs every command that README.md shows and compares what it prints with the output the
# README shows under it.
#
# In README.md every ```sh block is preceded by a marker line that says where its commands
# run:
#   <!-- test: install -->    on the server, from the folder that holds the packages; dpkg
#                             installs into the scratch root that stands for the server
#   <!-- test: server -->     on the server: the emulated default controllers (fmxsim),
#                             whose state carries over from one server block to the next,
#                             and so does the working folder
#   <!-- test: server input=A,B -->   the same, with the answers A, B typed at updater's
#                             questions (shown after each question, as a terminal shows
#                             them)
#   <!-- test: workstation --> on the operator's workstation (the commands call fmxsim
#                             themselves); the working folder carries over
#   <!-- test: source -->     in a stand-in for the source tree: its scripts, this build as
#                             build/native, scratch folders for what the commands write;
#                             scripts/demo.sh runs without building, bench/run.sh with this
#                             build (and, with --no-callgrind, without callgrind: for the
#                             i386 and sanitizer builds)
#   <!-- test: usage -->      there too, each line run with --help appended: the command
#                             exists and accepts the arguments shown (these are the long
#                             runs; CI runs scripts/test.sh itself through .ci/run)
# On the scratch server /opt/ is the scratch root's opt/, /var/ a scratch folder (a private
# mount namespace), and the image files a controller maker ships (q520_14.bin,
# q510i_12_3.bin) are stand-ins made with fwimage.
#
# A ```text block right after a ```sh block is its expected output (standard output and
# error together; tabs expanded; trailing blanks ignored); a line "..." stands for any
# number of lines. Every block must end with status 0 and print no "command not found". A
# ```sh block without a marker, or a fence of another kind than sh, text or json, fails.
# Needs root (mount namespaces) and skips (77) without it.
set -euo pipefail

SOURCE=$(cd "$1" && pwd)
BUILD=$(cd "$2" && pwd)
VERSION=$3
ARCH=$4
NO_CALLGRIND=0
[ "${5:-}" = --no-callgrind ] && NO_CALLGRIND=1

fail() { printf 'FAIL: %s\n' "$*" >&2; exit 1; }
SCRATCH=$(mktemp -d)
if [ -n "${FMX_KEEP_TEMP:-}" ]; then echo "scratch folder kept: $SCRATCH"; else trap 'rm -rf "$SCRATCH"' EXIT; fi

mkdir -p "$SCRATCH/var" "$SCRATCH/home" "$SCRATCH/blocks"
# shellcheck disable=SC2016 # the inner shell expands "$0" and "$@"
if ! unshare --mount --propagation private sh -c 'mount --bind "$0" /var' "$SCRATCH/var" 2>/dev/null; then
  echo "SKIPPED: no private mount namespace to keep /var untouched (needs root)"
  exit 77
fi
private_var() {
  # shellcheck disable=SC2016
  unshare --mount --propagation private sh -c 'mount --bind "$0" /var && exec "$@"' "$SCRATCH/var" "$@"
}

# ---------------------------------------------------------------------------- the blocks
# blocks/N.sh, blocks/N.expected (when shown) and blocks/list: "N LINE CONTEXT OPTIONS".
awk -v dir="$SCRATCH/blocks" '
  function bad(msg) { printf "README.md:%d: %s\n", NR, msg > "/dev/stderr"; failed = 1 }
  /^```/ {
    if (!inside) {
      kind = substr($0, 4)
      if (kind != "sh" && kind != "text" && kind != "json") bad("a fence of kind \"" kind "\" (use sh, text or json)")
      inside = 1
      if (kind == "sh") {
        n++
        if (marker == "") bad("a ```sh block without a <!-- test: ... --> line before it")
        printf "%d %d %s\n", n, NR, marker > (dir "/list")
        file = dir "/" n ".sh"; printf "" > file
      } else if (kind == "text" && after_sh) {
        file = dir "/" n ".expected"; printf "" > file
      } else file = ""
      after_sh = 0; marker = ""
      next
    }
    inside = 0; after_sh = (kind == "sh"); if (file != "") close(file); next
  }
  inside { if (file != "") print > file; next }
  /^<!-- test: .* -->$/ { marker = $0; sub(/^<!-- test: /, "", marker); sub(/ -->$/, "", marker); next }
  /^[[:space:]]*$/ { next }
  { marker = ""; after_sh = 0 }
  END { if (inside) bad("a fence that is not closed"); exit failed }' "$SOURCE/README.md" ||
  fail "README.md: the blocks above are not runnable"
[ -s "$SCRATCH/blocks/list" ] || fail "README.md shows no sh block"

# ---------------------------------------------------------------------------- the tree
# The source tree as the developer blocks see it: the scripts of SOURCE_DIR, this build as
# build/native, and folders of its own for what the commands write (docs/benchmarks.md,
# packages/, an install prefix), so that the real source tree stays as it is.
TREE=$SCRATCH/tree
mkdir -p "$TREE/build" "$TREE/docs"
for entry in scripts bench cmake .ci; do ln -s "$SOURCE/$entry" "$TREE/$entry"; done
ln -s "$BUILD" "$TREE/build/native"

# ---------------------------------------------------------------------------- the server
cpack --config "$BUILD/CPackConfig.cmake" -B "$SCRATCH/packages" >"$SCRATCH/cpack.log" 2>&1 ||
  { cat "$SCRATCH/cpack.log"; fail "cpack failed"; }
rm -rf "$SCRATCH/packages/_CPack_Packages"
[ -f "$SCRATCH/packages/sasburn_${VERSION}_${ARCH}.deb" ] || { ls "$SCRATCH/packages"; fail "cpack made no sasburn_${VERSION}_${ARCH}.deb"; }
SERVER_ROOT=$SCRATCH/server
mkdir -p "$SERVER_ROOT/var/lib/dpkg/updates" "$SERVER_ROOT/var/lib/dpkg/info"
touch "$SERVER_ROOT/var/lib/dpkg/status"
[ "$ARCH" = "$(dpkg --print-architecture)" ] || dpkg --root="$SERVER_ROOT" --add-architecture "$ARCH"
# dpkg on the server installs into the scratch root (the package's dependencies are those
# of this machine, which the scratch root's database does not list).
mkdir -p "$SCRATCH/server-bin"
printf '#!/bin/sh\nexec %s --root="%s" --force-depends "$@"\n' "$(command -v dpkg)" "$SERVER_ROOT" \
  >"$SCRATCH/server-bin/dpkg"
chmod +x "$SCRATCH/server-bin/dpkg"
server_prepared=0
STATE=$SCRATCH/state/server.json
mkdir -p "$SCRATCH/state"
SERVER_CWD=/
WORKSTATION_CWD=$SCRATCH/home

# The commands as they run here: /opt/ is the scratch root's.
localize() { sed "s|/opt/|$SERVER_ROOT/opt/|g" "$1"; }

prepare_server() {
  local bin=$SERVER_ROOT/opt/sasburn/bin tools=$SERVER_ROOT/opt/sasburn/tools
  [ -x "$bin/sasburn" ] || fail "a server block runs before the package is installed"
  "$tools/fwimage" "$bin/q520_14.bin" --version 14.00.00.00 --nvdata product=Q520 --code-size 0x50000
  "$tools/fwimage" "$bin/q510i_12_3.bin" --version 12.00.03.00 --kind it --device 0x70 \
    --nvdata product=Q510i,device=0x70 --code-size 0x48000
  server_prepared=1
}

# Inserts the typed answers after updater's questions, as a terminal shows them.
show_answers() {
  awk -v answers="$1" '
    BEGIN { n = split(answers, a, ","); q = "[NO, yes, quit] " }
    { line = $0; out = ""
      while ((i = index(line, q)) > 0 && k < n) { out = out substr(line, 1, i + length(q) - 1) a[++k] "\n"; line = substr(line, i + length(q)) }
      print out line }'
}

# The expected lines against the actual ones; "..." is any number of lines.
compare() {  # EXPECTED ACTUAL
  awk '
    FNR == NR { sub(/[ \t]+$/, ""); e[++ne] = $0; next }
    { sub(/[ \t]+$/, ""); a[++na] = $0 }
    END {
      j = 1; skip = 0
      for (i = 1; i <= ne; i++) {
        if (e[i] == "...") { skip = 1; continue }
        if (skip) { while (j <= na && a[j] != e[i]) j++ }
        if (j > na || a[j] != e[i]) { printf "expected line %d not found: \"%s\"\n", i, e[i]; exit 1 }
        j++; skip = 0
      }
      if (!skip && j <= na) { printf "unexpected line after the expected output: \"%s\"\n", a[j]; exit 1 }
    }' "$1" "$2"
}

run_block() {  # N LINE CONTEXT [OPTIONS]
  local n=$1 line=$2 context=$3 options=${4:-} script=$SCRATCH/blocks/$1.local.sh
  local out=$SCRATCH/blocks/$n.out status=0 answers='' input=/dev/null
  localize "$SCRATCH/blocks/$n.sh" >"$script"
  case $options in input=*) answers=${options#input=}; tr ',' '\n' <<<"$answers" >"$SCRATCH/blocks/$n.in"; input=$SCRATCH/blocks/$n.in ;; esac
  echo "== README.md:$line ($context)"
  sed 's/^/    /' "$SCRATCH/blocks/$n.sh"
  case $context in
    install)
      (cd "$SCRATCH/packages" && PATH=$SCRATCH/server-bin:$PATH bash "$script") >"$out" 2>&1 <"$input" ||
        status=$? ;;
    server)
      [ "$server_prepared" = 1 ] || prepare_server
      local -a scenario=()
      [ -f "$STATE" ] && scenario=("$STATE")
      printf '\npwd >"%s"\n' "$SCRATCH/state/cwd" >>"$script"
      (cd "$SERVER_CWD" && private_var "$SERVER_ROOT/opt/sasburn/tools/fmxsim" "${scenario[@]}" \
        --save-state "$STATE" -- bash "$script") >"$out.raw" 2>&1 <"$input" || status=$?
      if [ -n "$answers" ]; then show_answers "$answers" <"$out.raw" >"$out"; else cp "$out.raw" "$out"; fi
      [ -f "$SCRATCH/state/cwd" ] && SERVER_CWD=$(cat "$SCRATCH/state/cwd") ;;
    workstation)
      printf '\npwd >"%s"\n' "$SCRATCH/state/workstation-cwd" >>"$script"
      (cd "$WORKSTATION_CWD" && HOME=$SCRATCH/home private_var bash "$script") >"$out" 2>&1 <"$input" || status=$?
      [ -f "$SCRATCH/state/workstation-cwd" ] && WORKSTATION_CWD=$(cat "$SCRATCH/state/workstation-cwd") ;;
    source)
      (cd "$TREE" && FMX_SKIP_INSTALL_DEPS=1 FMX_DEMO_NO_BUILD=1 FMX_BENCH_BUILD=$BUILD \
        FMX_BENCH_NO_CALLGRIND=$NO_CALLGRIND bash "$script") >"$out" 2>&1 <"$input" || status=$? ;;
    usage)
      sed -E '/^[[:space:]]*(#|$)/d; s/[[:space:]]+#.*$//; s/$/ --help/' "$script" >"$script.help"
      (cd "$TREE" && bash "$script.help") >"$out" 2>&1 <"$input" || status=$? ;;
    *) fail "README.md:$line: unknown test context \"$context\"" ;;
  esac
  if [ "$status" -ne 0 ]; then cat "$out"; fail "README.md:$line: the block ended with status $status"; fi
  if grep -qE '(^|: )line [0-9]+: .*(command not found|No such file or directory)' "$out"; then
    cat "$out"; fail "README.md:$line: a command or file the block names does not exist"
  fi
  if [ -f "$SCRATCH/blocks/$n.expected" ]; then
    expand "$out" >"$out.expanded"
    if ! compare "$SCRATCH/blocks/$n.expected" "$out.expanded"; then
      echo "--- what the block printed:"; cat "$out.expanded"
      fail "README.md:$line: the output differs from the output the README shows"
    fi
  fi
}

while read -r n line context options; do
  run_block "$n" "$line" "$context" "$options"
done <"$SCRATCH/blocks/list"
echo "PASS: $(wc -l <"$SCRATCH/blocks/list") blocks"
