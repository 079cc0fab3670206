#!/usr/bin/env bash
# bench/run.sh: what the listing, a firmware flash and a fleet update cost, on emulated
# controllers.
#
#   bench/run.sh [--quick] [--runs N] [--controllers LIST] [--sizes LIST]
#                [--build DIR] [--output FILE] [--no-callgrind] [--keep DIR]
#
# For every scenario (a number of controllers, all Q520 boards on /dev/fmx2ctl, each with
# a firmware image of one size in its flash) it runs these under fmxsim, each in a fresh
# emulator so that every run starts from the same controllers:
#   reference         bench/reference_client.cc: the listing's requests and nothing else
#                     (run twice per round: the second run, "control", is not in the table
#                     but gives the noise floor of the ratios)
#   sasburn           no command: banner and discovery only (the start-up footprint)
#   sasburn -listall
#   sasburn -c 0 -f   a new image of the same size (a valid update of controller 0)
#   updater /c /s     firmware.cfg names the new image for Q520: every controller is flashed
# The runs are interleaved (reference, sasburn, -listall, control, -f, updater, then again) so that
# a change in the machine's load touches all of them alike. Each run is measured by
# fmxbench_measure (wall time, user+system CPU time and peak resident memory of the
# command and the children it waits for; the emulator's own work is not counted). Once
# per scenario, callgrind counts the instructions of the reference and of each sasburn
# command (the whole process, and the part in the sasburn executable itself).
#
# It prints one table: medians over the runs, the spread ((max - min) / median), the peak
# memory above the start-up footprint against its limit, the listing's ratios to the
# reference (the median of the ratios of each run to the reference run of the same round),
# and the instruction counts; then the target checks and a fit of each cost to
# a + b*controllers + c*MiB + d*controllers*MiB. The same goes into the generated block
# of --output (between "<!-- bench:begin -->" and "<!-- bench:end -->"; text outside the
# block is kept; a missing file is created).
#
# Options:
#   --quick            controllers 1,2; sizes 64K,128K; 1 run; callgrind on -listall and
#                      the reference of the last scenario only. Runs in seconds; the
#                      README shows it, and tests/release runs what the README shows.
#   --runs N           runs of each command per scenario (default 9)
#   --controllers L    comma-separated controller counts (default 1,4,8)
#   --sizes L          comma-separated image sizes, K or M suffix (default 256K,1M,4M)
#   --build DIR        use the programs already built in DIR (sasburn, updater, fmxsim,
#                      fwimage, bench/fmxbench_ref, bench/fmxbench_measure). Without it
#                      build/native is configured and those targets built (-j2).
#   --output FILE      the document to write (default docs/benchmarks.md)
#   --no-callgrind     skip the instruction counts
#   --keep DIR         work in DIR and keep it (images, scenarios, outputs, raw results)
#   --no-realtime      run the measured commands with normal priority. By default, as
#                      root, each measured run (fmxsim and its command) runs under
#                      SCHED_FIFO priority 10 (chrt -f 10), so that builds and tests of
#                      other users of the machine do not get into the times; the kernel
#                      keeps 5% of each second for everything else
# Environment: FMX_BENCH_BUILD and FMX_BENCH_OUTPUT are the defaults of --build and
# --output; FMX_BENCH_NO_CALLGRIND=1 is --no-callgrind.
# Exit status: 0 when every run did what it should (the targets are reported, not
# enforced), 1 when a command failed or printed something unexpected, 2 for a usage error.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
log() { printf '[bench] %s\n' "$*" >&2; }
die() { printf '[bench] ERROR: %s\n' "$*" >&2; exit 1; }
usage() { awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "${BASH_SOURCE[0]}"; }

RUNS=9
CONTROLLERS=1,4,8
SIZES=256K,1M,4M
BUILD=${FMX_BENCH_BUILD:-}
OUTPUT=${FMX_BENCH_OUTPUT:-$ROOT/docs/benchmarks.md}
CALLGRIND=all
KEEP=
REALTIME=1
while [ $# -gt 0 ]; do
  case $1 in
    --quick) RUNS=1; CONTROLLERS=1,2; SIZES=64K,128K; CALLGRIND=listing ;;
    --runs) RUNS=${2:?}; shift ;;
    --controllers) CONTROLLERS=${2:?}; shift ;;
    --sizes) SIZES=${2:?}; shift ;;
    --build) BUILD=${2:?}; shift ;;
    --output) OUTPUT=${2:?}; shift ;;
    --no-callgrind) CALLGRIND=none ;;
    --keep) KEEP=${2:?}; shift ;;
    --no-realtime) REALTIME=0 ;;
    -h|--help) usage; exit 0 ;;
    *) printf 'bench/run.sh: unknown argument "%s"\n\n' "$1" >&2; usage >&2; exit 2 ;;
  esac
  shift
done
[ "${FMX_BENCH_NO_CALLGRIND:-0}" = 1 ] && CALLGRIND=none
[[ $RUNS =~ ^[1-9][0-9]*$ ]] || { echo "bench/run.sh: --runs needs a positive number" >&2; exit 2; }
IFS=, read -r -a CONTROLLER_LIST <<<"$CONTROLLERS"
IFS=, read -r -a SIZE_LIST <<<"$SIZES"
for n in "${CONTROLLER_LIST[@]}"; do
  [[ $n =~ ^[1-9][0-9]?$ ]] || { echo "bench/run.sh: bad controller count \"$n\" (1-99)" >&2; exit 2; }
done
bytes_of() {
  case $1 in
    *K) echo $(( ${1%K} * 1024 )) ;;
    *M) echo $(( ${1%M} * 1024 * 1024 )) ;;
    *) echo "$1" ;;
  esac
}
for s in "${SIZE_LIST[@]}"; do
  if ! [[ $s =~ ^[1-9][0-9]*[KM]?$ ]] || [ "$(bytes_of "$s")" -lt 65536 ]; then
    echo "bench/run.sh: bad image size \"$s\" (at least 64K)" >&2
    exit 2
  fi
done

# ---------------------------------------------------------------------------- programs
if [ -z "$BUILD" ]; then
  BUILD=$ROOT/build/native
  log "building the programs in $BUILD (log: $BUILD/bench-build.log)"
  mkdir -p "$BUILD"
  { cmake -S "$ROOT" -B "$BUILD" &&
    cmake --build "$BUILD" -j 2 --target sasburn updater fmxsim fwimage fmxbench_ref fmxbench_measure
  } >"$BUILD/bench-build.log" 2>&1 || { tail -n 40 "$BUILD/bench-build.log" >&2; die "the build failed"; }
fi
BUILD=$(cd "$BUILD" && pwd)
SASBURN=$BUILD/flasher/sasburn
UPDATER=$BUILD/updater/updater
FMXSIM=$BUILD/sim/fmxsim
FWIMAGE=$BUILD/sim/fwimage
REFERENCE=$BUILD/bench/fmxbench_ref
MEASURE=$BUILD/bench/fmxbench_measure
for p in "$SASBURN" "$UPDATER" "$FMXSIM" "$FWIMAGE" "$REFERENCE" "$MEASURE"; do
  [ -x "$p" ] || die "$p is not built"
done
if [ "$CALLGRIND" != none ]; then
  command -v valgrind >/dev/null || die "valgrind is not installed (scripts/install-deps.sh), or use --no-callgrind"
fi

if [ -n "$KEEP" ]; then
  mkdir -p "$KEEP"
  WORK=$(cd "$KEEP" && pwd)
else
  WORK=$(mktemp -d)
  trap 'rm -rf "$WORK"' EXIT
fi

# updater appends to /var/qxc/Component.log. As root, each updater run gets a private
# mount namespace with a scratch folder over /var, so the machine's /var stays untouched.
mkdir -p "$WORK/var/qxc"
PRIVATE_VAR=()
# shellcheck disable=SC2016 # the inner shell expands "$0", "$1" and "$@"
if unshare --mount --propagation private sh -c 'mount --bind "$1" /var' sh "$WORK/var" 2>/dev/null; then
  PRIVATE_VAR=(unshare --mount --propagation private sh -c 'mount --bind "$0" /var && exec "$@"' "$WORK/var")
elif [ -d /var/qxc ]; then
  log "note: no private mount namespace; updater will append to /var/qxc/Component.log"
fi

SCHEDULING=(chrt -f 10)
if [ "$REALTIME" = 1 ] && [ "$(id -u)" -eq 0 ] && command -v chrt >/dev/null && chrt -f 10 true 2>/dev/null; then
  SCHEDULE_NOTE="SCHED_FIFO priority 10 (chrt -f 10)"
else
  SCHEDULING=()
  SCHEDULE_NOTE="normal priority"
fi

# ---------------------------------------------------------------------------- scenarios
# Images fill their size with firmware code (a byte pattern), so every segment carries
# data. The running image is 13.00.01.00, the new one 14.00.00.00; both carry NVDATA for
# the Q520 (as the emulator's default controller 0), so the flash passes validation.
make_image() {  # FILE VERSION SIZE FILL
  "$FWIMAGE" "$1" --version "$2" --nvdata product=Q520 --code-size $(( $3 - 16384 )) --size "$3" --fill "$4"
}
for s in "${SIZE_LIST[@]}"; do
  b=$(bytes_of "$s")
  dir=$WORK/$s
  mkdir -p "$dir"
  make_image "$dir/running.bin" 13.00.01.00 "$b" 1
  make_image "$dir/new.bin" 14.00.00.00 "$b" 2
  echo "Q520, 14.00.00.00, new.bin" >"$dir/firmware.cfg"
  ln -sf "$SASBURN" "$dir/sasburn"
  ln -sf "$UPDATER" "$dir/updater"
  for n in "${CONTROLLER_LIST[@]}"; do
    {
      printf '{"description": "bench: %s controllers, %s images", "controllers": [' "$n" "$s"
      for ((i = 0; i < n; i++)); do
        [ "$i" -eq 0 ] || printf ', '
        printf '{"based_on": 0, "regions": {"firmware": {"file": "running.bin"}}}'
      done
      printf ']}\n'
    } >"$dir/scenario-$n.json"
  done
done

COMMANDS=(reference start listall control flash updater)
command_words() {  # NAME -> the words run in the scenario's folder
  case $1 in
    reference|control) echo "$REFERENCE" ;;
    start) echo ./sasburn ;;
    listall) echo ./sasburn -listall ;;
    flash) echo ./sasburn -c 0 -f new.bin ;;
    updater) echo ./updater /c /s ;;
  esac
}
expected_status() {
  case $1 in start) echo 1 ;; updater) echo 1 ;; *) echo 0 ;; esac
}
# check_output NAME CONTROLLERS FILE: what a correct run prints.
check_output() {
  local name=$1 n=$2 file=$3 rows
  case $name in
    reference|control)
      rows=$(grep -c $'^\t[0-9][0-9]    Q520 .* 13\.00\.01\.00$' "$file" || true)
      [ "$rows" -eq "$n" ] ;;
    listall)
      rows=$(grep -c $'^\t[0-9][0-9]    Q520 .* 13\.00\.01\.00$' "$file" || true)
      [ "$rows" -eq "$n" ] && grep -q 'Finished Processing Commands Successfully' "$file" ;;
    start) grep -q 'Qexton SAS2 RAID Mode Flash Utility' "$file" && ! grep -q ERROR "$file" ;;
    flash) grep -q 'Firmware Flash Successful!' "$file" && ! grep -q ERROR "$file" ;;
    updater)
      rows=$(grep -c '^Successfully updated\.' "$file" || true)
      [ "$rows" -eq "$n" ] && ! grep -q 'match:' "$file" ;;
  esac
}

RESULTS=$WORK/results.tsv   # n size command run wall_us user_us sys_us maxrss_kib
: >"$RESULTS"
run_one() {  # N SIZE NAME RUN
  local n=$1 s=$2 name=$3 run=$4 dir=$WORK/$2 status=0 want
  local out=$dir/out-$n-$name.txt report=$dir/measure-$n-$name.txt
  local -a words prefix=()
  read -r -a words <<<"$(command_words "$name")"
  [ "$name" = updater ] && prefix=("${PRIVATE_VAR[@]}")
  (cd "$dir" && "${SCHEDULING[@]}" "${prefix[@]}" "$FMXSIM" "scenario-$n.json" -- "$MEASURE" "$report" "${words[@]}") \
    >"$out" 2>&1 </dev/null || status=$?
  want=$(expected_status "$name")
  [ "$status" -eq "$want" ] || { cat "$out" >&2; die "$n controllers, $s: $name exited with $status, not $want"; }
  check_output "$name" "$n" "$out" || { cat "$out" >&2; die "$n controllers, $s: $name printed something unexpected"; }
  sed -E 's/[a-z_]+=//g' "$report" | awk -v n="$n" -v s="$s" -v c="$name" -v r="$run" \
    '{ printf "%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", n, s, c, r, $1, $2, $3, $4 }' >>"$RESULTS"
}

total=$(( ${#CONTROLLER_LIST[@]} * ${#SIZE_LIST[@]} ))
k=0
for s in "${SIZE_LIST[@]}"; do
  for n in "${CONTROLLER_LIST[@]}"; do
    k=$((k + 1))
    log "scenario $k/$total: $n controllers, $s images, $RUNS runs"
    for ((r = 1; r <= RUNS; r++)); do
      for name in "${COMMANDS[@]}"; do run_one "$n" "$s" "$name" "$r"; done
    done
  done
done

# ---------------------------------------------------------------------------- callgrind
INSTRUCTIONS=$WORK/instructions.tsv   # n size command total_ir own_ir
: >"$INSTRUCTIONS"
# Self cost per object of a callgrind output file; prints "total own", own being the
# cost inside the object whose path ends in /$2.
callgrind_costs() {
  awk -v own="/$2" '
    function object(s,   id, rest) {
      if (match(s, /^\([0-9]+\)/)) {
        id = substr(s, RSTART, RLENGTH); rest = substr(s, RLENGTH + 1); sub(/^ /, "", rest)
        if (rest != "") name[id] = rest
        return name[id]
      }
      return s
    }
    /^ob=/ { s = $0; sub(/^ob=/, "", s); cur = object(s); next }
    /^cob=/ { s = $0; sub(/^cob=/, "", s); object(s); next }
    /^calls=/ { skip = 1; next }
    /^[0-9+*-]/ {
      if (skip) { skip = 0; next }
      if (split($0, f, " ") >= 2) { total += f[2]; if (substr(cur, length(cur) - length(own) + 1) == own) mine += f[2] }
    }
    END { printf "%.0f %.0f\n", total, mine }' "$1"
}
count_instructions() {  # N SIZE NAME
  local n=$1 s=$2 name=$3 dir=$WORK/$2 out file program status=0
  local -a words
  read -r -a words <<<"$(command_words "$name")"
  out=$dir/callgrind-$n-$name.txt
  file=$dir/callgrind-$n-$name.out
  (cd "$dir" && "$FMXSIM" "scenario-$n.json" -- valgrind --tool=callgrind --callgrind-out-file="$file" \
      "${words[@]}") >"$out" 2>&1 </dev/null || status=$?
  if [ "$status" -ne "$(expected_status "$name")" ] || ! check_output "$name" "$n" "$out"; then
    cat "$out" >&2
    die "$n controllers, $s: $name under callgrind exited with $status"
  fi
  program=$(basename "${words[0]}")
  read -r total mine < <(callgrind_costs "$file" "$program")
  printf '%s\t%s\t%s\t%s\t%s\n' "$n" "$s" "$name" "$total" "$mine" >>"$INSTRUCTIONS"
}
if [ "$CALLGRIND" = all ]; then
  for s in "${SIZE_LIST[@]}"; do
    for n in "${CONTROLLER_LIST[@]}"; do
      log "callgrind: $n controllers, $s images"
      for name in reference start listall flash; do count_instructions "$n" "$s" "$name"; done
    done
  done
elif [ "$CALLGRIND" = listing ]; then
  n=${CONTROLLER_LIST[-1]} s=${SIZE_LIST[-1]}
  log "callgrind: $n controllers, $s images (reference and -listall)"
  for name in reference listall; do count_instructions "$n" "$s" "$name"; done
fi

# ---------------------------------------------------------------------------- report
REPORT=$WORK/report.md
{
  printf 'Measured %s on commit %s: %s, %s cores, %s MiB memory, load average %s at the end.\n' \
    "$(date -u '+%Y-%m-%d %H:%M UTC')" "$(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo '?')" \
    "$(uname -srm)" "$(nproc)" "$(awk '/^MemTotal:/ {print int($2 / 1024)}' /proc/meminfo)" \
    "$(cut -d' ' -f1-3 /proc/loadavg)"
  # shellcheck disable=SC2016 # the backquotes are Markdown
  printf 'Command: `bench/run.sh%s`; %s runs per command, at %s; build `%s` (%s).\n\n' \
    "$( [ "$RUNS" = 9 ] && [ "$CONTROLLERS" = 1,4,8 ] && [ "$SIZES" = 256K,1M,4M ] || printf ' --runs %s --controllers %s --sizes %s' "$RUNS" "$CONTROLLERS" "$SIZES")" \
    "$RUNS" "$SCHEDULE_NOTE" "$(basename "$BUILD")" "$(grep -m1 '^CMAKE_BUILD_TYPE:' "$BUILD/CMakeCache.txt" 2>/dev/null | cut -d= -f2 || echo '?')"
  awk -F'\t' -v sizes="$SIZES" -v controllers="$CONTROLLERS" -v runs="$RUNS" '
    function bytes(s) { if (s ~ /K$/) return substr(s, 1, length(s) - 1) * 1024; if (s ~ /M$/) return substr(s, 1, length(s) - 1) * 1048576; return s + 0 }
    function median(key,   n, i, j, t, v) {
      n = cnt[key]; for (i = 1; i <= n; i++) v[i] = val[key, i]
      for (i = 2; i <= n; i++) { t = v[i]; for (j = i - 1; j >= 1 && v[j] > t; j--) v[j + 1] = v[j]; v[j + 1] = t }
      lo[key] = v[1]; hi[key] = v[n]
      return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    function spread(key, m) { return m > 0 ? sprintf("%.0f%%", 100 * (hi[key] - lo[key]) / m) : "-" }
    function add(key, x) { val[key, ++cnt[key]] = x }
    FNR == NR {
      key = $1 SUBSEP $2 SUBSEP $3; add("wall" SUBSEP key, $5 / 1000); add("cpu" SUBSEP key, ($6 + $7) / 1000); add("rss" SUBSEP key, $8 / 1024)
      if ($3 == "reference" || $3 == "listall" || $3 == "control") { run_w[$1, $2, $3, $4] = $5; run_u[$1, $2, $3, $4] = $6 + $7 }
      next
    }
    { ir[$1, $2, $3] = $4; own[$1, $2, $3] = $5 }
    END {
      ns = split(controllers, N, ","); ss = split(sizes, S, ",")
      cmds = "reference start listall control flash updater"; nc = split(cmds, C, " ")
      label["reference"] = "reference client"; label["start"] = "sasburn (start-up only)"
      label["listall"] = "sasburn -listall"; label["flash"] = "sasburn -c 0 -f IMAGE"; label["updater"] = "updater /c /s"
      print "| ctrl | image | command | wall ms | spread | CPU ms | spread | peak MiB | above start MiB | limit MiB | ÷ ref wall | ÷ ref CPU | instructions | in sasburn | ÷ ref instr |"
      print "|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
      for (si = 1; si <= ss; si++) for (ni = 1; ni <= ns; ni++) {
        n = N[ni]; s = S[si]; mib = bytes(s) / 1048576
        start_rss = median("rss" SUBSEP n SUBSEP s SUBSEP "start")
        for (ci = 1; ci <= nc; ci++) {
          c = C[ci]; key = n SUBSEP s SUBSEP c
          if (c == "control") continue
          w = median("wall" SUBSEP key); ws = spread("wall" SUBSEP key, w)
          u = median("cpu" SUBSEP key); us = spread("cpu" SUBSEP key, u)
          r = median("rss" SUBSEP key)
          W[key] = w; U[key] = u; R[key] = r
          above = "-"; limit = "-"
          if (c == "listall" || c == "flash") {
            above = sprintf("%.2f", r - start_rss)
            lim = (c == "listall" ? mib : 3 * mib) + 2
            limit = sprintf("%.2f", lim)
            memok[key] = (r - start_rss <= lim)
            if (!memok[key]) memfail = memfail sprintf("  %s, %d controllers, %s: %.2f MiB above start, limit %.2f\n", label[c], n, s, r - start_rss, lim)
          }
          rw = "-"; ru = "-"; ri = "-"
          refkey = n SUBSEP s SUBSEP "reference"
          if (c == "listall") {
            # The ratio of each run to the reference run beside it (same round, same
            # machine load); the median of those, and the ratio of the fastest runs.
            for (round = 1; round <= runs; round++) {
              add("rw" SUBSEP n SUBSEP s, run_w[n, s, "listall", round] / run_w[n, s, "reference", round])
              add("ru" SUBSEP n SUBSEP s, run_u[n, s, "listall", round] / run_u[n, s, "reference", round])
              add("cw" SUBSEP n SUBSEP s, run_w[n, s, "control", round] / run_w[n, s, "reference", round])
              add("cu" SUBSEP n SUBSEP s, run_u[n, s, "control", round] / run_u[n, s, "reference", round])
              add("rw_all", run_w[n, s, "listall", round] / run_w[n, s, "reference", round])
              add("ru_all", run_u[n, s, "listall", round] / run_u[n, s, "reference", round])
              add("cw_all", run_w[n, s, "control", round] / run_w[n, s, "reference", round])
              add("cu_all", run_u[n, s, "control", round] / run_u[n, s, "reference", round])
            }
            control_wall[n, s] = median("cw" SUBSEP n SUBSEP s); control_cpu[n, s] = median("cu" SUBSEP n SUBSEP s)
            ratio_wall[n, s] = median("rw" SUBSEP n SUBSEP s); rw = sprintf("%.2f", ratio_wall[n, s])
            ratio_cpu[n, s] = median("ru" SUBSEP n SUBSEP s); ru = sprintf("%.2f", ratio_cpu[n, s])
            median("wall" SUBSEP key); min_w = lo["wall" SUBSEP key]; median("wall" SUBSEP refkey); min_wall[n, s] = min_w / lo["wall" SUBSEP refkey]
            median("cpu" SUBSEP key); min_u = lo["cpu" SUBSEP key]; median("cpu" SUBSEP refkey); min_cpu[n, s] = min_u / lo["cpu" SUBSEP refkey]
            if ((n, s, "reference") in ir) { ratio_ir[n, s] = ir[key] / ir[refkey]; ri = sprintf("%.2f", ratio_ir[n, s]) }
          }
          i1 = (key in ir) ? sprintf("%.2fM", ir[key] / 1e6) : "-"
          i2 = (key in own && c != "reference") ? sprintf("%.2fM", own[key] / 1e6) : "-"
          printf "| %d | %s | %s | %.1f | %s | %.1f | %s | %.2f | %s | %s | %s | %s | %s | %s | %s |\n", n, s, label[c], w, ws, u, us, r, above, limit, rw, ru, i1, i2, ri
        }
      }
      print ""
      print "Targets:"
      worst_w = 0; worst_u = 0; worst_i = 0; worst_mw = 0; worst_mu = 0; worst_cw = 0; worst_cu = 0
      for (k2 in ratio_wall) {
        if (ratio_wall[k2] > worst_w) worst_w = ratio_wall[k2]; if (ratio_cpu[k2] > worst_u) worst_u = ratio_cpu[k2]
        if (min_wall[k2] > worst_mw) worst_mw = min_wall[k2]; if (min_cpu[k2] > worst_mu) worst_mu = min_cpu[k2]
        if (control_wall[k2] > worst_cw) worst_cw = control_wall[k2]; if (control_cpu[k2] > worst_cu) worst_cu = control_cpu[k2]
      }
      all_w = median("rw_all"); all_u = median("ru_all"); all_cw = median("cw_all"); all_cu = median("cu_all")
      for (k2 in ratio_ir) if (ratio_ir[k2] > worst_i) worst_i = ratio_ir[k2]
      printf "- listing over the reference, at most 1.10: over all %d rounds of all scenarios, the median ratio of -listall to the reference run of its round is %.2f in wall time (%s) and %.2f in CPU time (%s).", cnt["rw_all"], all_w, all_w <= 1.10 ? "met" : "MISSED", all_u, all_u <= 1.10 ? "met" : "MISSED"
      printf " The same for a second run of the reference itself (the noise floor): %.2f and %.2f.", all_cw, all_cu
      printf " Worst scenario, median of its rounds: -listall %.2f wall, %.2f CPU; the reference itself %.2f wall, %.2f CPU. Worst scenario, fastest run over fastest run: %.2f wall, %.2f CPU.", worst_w, worst_u, worst_cw, worst_cu, worst_mw, worst_mu
      if (worst_i > 0) printf " Instructions, worst scenario: %.2f (%s).", worst_i, worst_i <= 1.10 ? "met" : "MISSED"
      print ""
      printf "- peak memory above the start-up footprint: -listall at most the image + 2 MiB, a flash at most 3 x the image + 2 MiB: %s\n", memfail == "" ? "met in every scenario." : "MISSED:"
      if (memfail != "") printf "%s", memfail
      print ""
      print "Linearity: each cost fitted to a + b*controllers + c*MiB + d*controllers*MiB (least squares over the scenarios); worst = largest relative distance of a scenario from the fit."
      print ""
      print "| command | metric | a | b per controller | c per MiB | d per controller-MiB | worst |"
      print "|---|---|---:|---:|---:|---:|---:|"
      for (ci = 1; ci <= nc; ci++) {
        c = C[ci]
        if (c == "control") continue
        fit(c, "CPU ms", U, 0)
        if ((N[1], S[1], c) in ir) fit(c, "instructions (M)", ir, 1e6)
      }
    }
    # Least squares for cost = a + b*n + c*m + d*n*m; the normal equations by Gaussian elimination.
    function fit(c, metric, M, scale,   A, y, np, ni, si, i, j, k, p, x, f, t, worst, key, v, coef, dev, sing) {
      for (i = 1; i <= 4; i++) { y[i] = 0; for (j = 1; j <= 5; j++) A[i, j] = 0 }
      np = 0
      for (si = 1; si <= ss; si++) for (ni = 1; ni <= ns; ni++) {
        key = N[ni] SUBSEP S[si] SUBSEP c; if (!(key in M)) return
        v = M[key] / (scale ? scale : 1)
        x[1] = 1; x[2] = N[ni]; x[3] = bytes(S[si]) / 1048576; x[4] = x[2] * x[3]
        for (i = 1; i <= 4; i++) { for (j = 1; j <= 4; j++) A[i, j] += x[i] * x[j]; A[i, 5] += x[i] * v }
        np++
      }
      sing = 0
      for (k = 1; k <= 4; k++) {
        p = k; for (i = k + 1; i <= 4; i++) if ((A[i, k] < 0 ? -A[i, k] : A[i, k]) > (A[p, k] < 0 ? -A[p, k] : A[p, k])) p = i
        if (A[p, k] == 0) { sing = 1; break }
        if (p != k) for (j = 1; j <= 5; j++) { t = A[k, j]; A[k, j] = A[p, j]; A[p, j] = t }
        for (i = 1; i <= 4; i++) if (i != k) { f = A[i, k] / A[k, k]; for (j = k; j <= 5; j++) A[i, j] -= f * A[k, j] }
      }
      if (sing || np < 4) { printf "| %s | %s | - | - | - | - | needs 2 controller counts and 2 sizes |\n", label[c], metric; return }
      if (np == 4) { printf "| %s | %s | - | - | - | - | 4 scenarios fit exactly; use 3 counts or 3 sizes |\n", label[c], metric; return }
      for (i = 1; i <= 4; i++) coef[i] = A[i, 5] / A[i, i]
      worst = 0
      for (si = 1; si <= ss; si++) for (ni = 1; ni <= ns; ni++) {
        key = N[ni] SUBSEP S[si] SUBSEP c; v = M[key] / (scale ? scale : 1)
        m = bytes(S[si]) / 1048576
        f = coef[1] + coef[2] * N[ni] + coef[3] * m + coef[4] * N[ni] * m
        dev = v != 0 ? (f - v) / v : 0; if (dev < 0) dev = -dev; if (dev > worst) worst = dev
      }
      printf "| %s | %s | %.3f | %.3f | %.3f | %.3f | %.1f%% |\n", label[c], metric, coef[1], coef[2], coef[3], coef[4], 100 * worst
    }' "$RESULTS" "$INSTRUCTIONS"
} >"$REPORT"

cat "$REPORT"

mkdir -p "$(dirname "$OUTPUT")"
if [ -f "$OUTPUT" ] && grep -q '^<!-- bench:begin -->$' "$OUTPUT" && grep -q '^<!-- bench:end -->$' "$OUTPUT"; then
  awk -v report="$REPORT" '
    /^<!-- bench:begin -->$/ { print; while ((getline line < report) > 0) print line; skipping = 1; next }
    /^<!-- bench:end -->$/ { skipping = 0 }
    !skipping' "$OUTPUT" >"$OUTPUT.new"
  mv "$OUTPUT.new" "$OUTPUT"
else
  { echo "# Benchmarks"; echo; echo "<!-- bench:begin -->"; cat "$REPORT"; echo "<!-- bench:end -->"; } >"$OUTPUT"
fi
log "written to $OUTPUT"
