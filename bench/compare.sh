#!/bin/bash
# Whole-process figures on generated files, each beside its yardstick, as medians:
#   info on a 20 MB plot file against `wc -l` of it (the floor of reading the bytes),
#   the peak memory of that info, render of a detailed drawing fitted to the frame and
#   of 20 MB of long lines against `hp2xx -m png`, and opening a 20 MB file in the window.
# usage: bench/compare.sh [BUILD]   (RUNS=5 by default; runs alternate, A B A B ...)
set -euo pipefail
BUILD=${1:-build}
RUNS=${RUNS:-5}
CLI=$BUILD/tools/grafonel-cli/grafonel-cli
GEN=$BUILD/bench/genplot
for f in "$CLI" "$GEN" "$BUILD/bench/bench_ui"; do
  [ -x "$f" ] || { echo "compare.sh: $f is missing; run 'make build' first" >&2; exit 1; }
done
need() { command -v "$1" >/dev/null 2>&1 || [ -x "$1" ]; }
if ! need hp2xx || ! need /usr/bin/time; then
  echo "compare.sh: installing hp2xx and time (the yardstick and the memory gauge)"
  SUDO=; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get install -y hp2xx time >/dev/null
fi

DIR=$(mktemp -d /tmp/grafonel-compare-XXXXXX)
trap 'rm -rf "$DIR"' EXIT
"$GEN" random "$DIR/random.plt"
"$GEN" drawing "$DIR/drawing.plt"
"$GEN" scribble "$DIR/scribble.plt"
"$CLI" convert "$DIR/drawing.plt" "$DIR/fitted.plt" --zoom-auto

# Wall time of one run in microseconds, output thrown away.
wall() {
  local t0 t1
  t0=$(date +%s%N)
  "$@" >/dev/null 2>&1
  t1=$(date +%s%N)
  echo $(((t1 - t0) / 1000))
}
median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# pair NAME -- A ... -- B ...: RUNS alternating runs of each; prints both medians and A/B.
pair() {
  local name=$1 a=() b=() side=a
  shift
  shift  # the first --
  for w in "$@"; do
    if [ "$w" = "--" ]; then side=b; continue; fi
    if [ $side = a ]; then a+=("$w"); else b+=("$w"); fi
  done
  "${a[@]}" >/dev/null 2>&1; "${b[@]}" >/dev/null 2>&1  # warm the page cache
  local ta=() tb=()
  for ((i = 0; i < RUNS; i++)); do
    ta+=("$(wall "${a[@]}")")
    tb+=("$(wall "${b[@]}")")
  done
  local ma mb
  ma=$(printf '%s\n' "${ta[@]}" | median)
  mb=$(printf '%s\n' "${tb[@]}" | median)
  awk -v n="$name" -v a="$ma" -v b="$mb" \
    'BEGIN {printf "%-34s %10.1f ms %10.1f ms %9.2f x\n", n, a / 1000, b / 1000, a / b}'
}

printf '%-34s %13s %13s %11s\n' "measure (medians of $RUNS)" "grafonel" "yardstick" "ratio"
pair "info 20 MB / wc -l" -- "$CLI" info "$DIR/random.plt" -- wc -l "$DIR/random.plt"
pair "render fitted drawing / hp2xx" -- "$CLI" render "$DIR/fitted.plt" "$DIR/a.png" \
  -- hp2xx -m png -f "$DIR/b.png" "$DIR/fitted.plt"
pair "render 20 MB long lines / hp2xx" -- "$CLI" render "$DIR/scribble.plt" "$DIR/a.png" \
  -- hp2xx -m png -f "$DIR/b.png" "$DIR/scribble.plt"

peaks=()
for ((i = 0; i < RUNS; i++)); do
  peaks+=("$(/usr/bin/time -f %M "$CLI" info "$DIR/random.plt" 2>&1 >/dev/null | tail -1)")
done
printf '%-34s %10.1f MiB\n' "info 20 MB peak memory" "$(printf '%s\n' "${peaks[@]}" | median | awk '{print $1 / 1024}')"

# The window's own measure: from accepting the file to the redrawn view, in process.
QT_QPA_PLATFORM=offscreen "$BUILD/bench/bench_ui" --benchmark_filter=OpenThroughWindow \
  --benchmark_repetitions=$((RUNS > 1 ? RUNS : 2)) --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null |
  awk -F, '/_median"?,/ {printf "%-34s %10.1f ms (wall), %.1f ms of processor\n", "open 20 MB in the window", $3, $4}'
