# shellcheck shell=bash disable=SC2034  # the variables set here are read by the runners
# Shared by the bench runners (sourced, not run): the build folder and the driver, a
# scratch folder removed on every way out, and timing of two commands side by side.
#
# Settings, all optional:
#   VARNELL_BENCH_RUNS     timed runs per command (default 5 for the scan, 3 for the repair)
#   VARNELL_BENCH_MIB      size of the big file in MiB (default 1024)
#   VARNELL_BENCH_DAMAGED  damaged blocks in the broken copy (default 100)
#   VARNELL_BENCH_STRICT   1: exit 3 when a target is missed (default: report only)
#   VARNELL_BENCH_HYPERFINE  0: time with the shell's clock even where hyperfine exists
#   TMPDIR                 where the scratch folder goes (default /tmp)

set -euo pipefail

bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_dir=$(dirname "$bench_dir")
build_dir=${1:-$repo_dir/build/native-release}
driver=$build_dir/bench/engine_bench
runs=${VARNELL_BENCH_RUNS:-5}
file_mib=${VARNELL_BENCH_MIB:-1024}
damaged=${VARNELL_BENCH_DAMAGED:-100}
missed=0

if [ ! -x "$driver" ]; then
  echo "no $driver; build it first:" >&2
  echo "  cmake --preset native-release -B $build_dir && cmake --build $build_dir --target engine_bench" >&2
  exit 2
fi

# Makes $scratch, sized for need_mib MiB of files, and removes it however the script ends.
make_scratch() {
  local need_mib=$1
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/varnell-bench.XXXXXX")
  trap 'rm -rf "$scratch"' EXIT
  trap 'exit 130' INT TERM
  local free_mib
  free_mib=$(df -Pm "$scratch" | awk 'NR == 2 { print $4 }')
  if [ "$free_mib" -lt "$need_mib" ]; then
    echo "need ${need_mib} MiB in $scratch, only ${free_mib} MiB free (set TMPDIR elsewhere)" >&2
    exit 2
  fi
}

# time_pair WARMUPS NAME1 PREPARE1 COMMAND1 NAME2 PREPARE2 COMMAND2
# Times both commands in the same session, each PREPARE run untimed before every run of its
# command, WARMUPS untimed runs first, and sets median1 and median2 to the median seconds.
# Uses hyperfine when present.
time_pair() {
  local warmups=$1 name1=$2 prepare1=$3 command1=$4 name2=$5 prepare2=$6 command2=$7
  if [ "${VARNELL_BENCH_HYPERFINE:-1}" != 0 ] && command -v hyperfine >/dev/null 2>&1; then
    local csv=$scratch/timing.csv
    hyperfine --style basic --warmup "$warmups" --runs "$runs" --export-csv "$csv" \
      --prepare "$prepare1" --prepare "$prepare2" \
      -n "$name1" "$command1" -n "$name2" "$command2" >&2
    # command,mean,stddev,median,...; the names carry no commas.
    median1=$(awk -F, -v name="$name1" '$1 == name { print $4 }' "$csv")
    median2=$(awk -F, -v name="$name2" '$1 == name { print $4 }' "$csv")
  else
    # Alternating runs, so that both commands see the same conditions.
    local samples1=() samples2=() i start
    for ((i = 0; i < warmups + runs; ++i)); do
      bash -c "$prepare1"
      start=$(date +%s%N)
      bash -c "$command1"
      samples1+=($(($(date +%s%N) - start)))
      bash -c "$prepare2"
      start=$(date +%s%N)
      bash -c "$command2"
      samples2+=($(($(date +%s%N) - start)))
    done
    median1=$(printf '%s\n' "${samples1[@]:warmups}" | sort -n | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.6f", m / 1e9 }')
    median2=$(printf '%s\n' "${samples2[@]:warmups}" | sort -n | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.6f", m / 1e9 }')
  fi
}

# Reads key=value lines of an engine_bench --report into report_KEY variables.
read_report() {
  local key value
  while IFS='=' read -r key value; do
    printf -v "report_$key" '%s' "$value"
  done <<<"$1"
}

# judge CONDITION-AS-AWK-EXPRESSION: sets judged to "met" or "MISSED" and counts misses.
# Not for use inside $(...), where the count would be lost.
judge() {
  if awk "BEGIN { exit !($1) }"; then
    judged=met
  else
    judged=MISSED
    missed=$((missed + 1))
  fi
}

finish() {
  if [ "$missed" -gt 0 ] && [ "${VARNELL_BENCH_STRICT:-0}" = 1 ]; then
    exit 3
  fi
  exit 0
}

mib() { awk -v b="$1" 'BEGIN { printf "%.1f MiB", b / 1048576 }'; }
