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

# time_commands WARMUPS NAME PREPARE COMMAND [NAME PREPARE COMMAND ...]
# Times the commands in the same session, each PREPARE run untimed before every run of its
# command, WARMUPS untimed runs first, and sets medians[NAME] to the median seconds. Uses
# hyperfine when present.
time_commands() {
  local warmups=$1
  shift
  local names=() prepares=() commands=() i
  while [ $# -ge 3 ]; do
    names+=("$1")
    prepares+=("$2")
    commands+=("$3")
    shift 3
  done
  declare -gA medians=()
  if [ "${VARNELL_BENCH_HYPERFINE:-1}" != 0 ] && command -v hyperfine >/dev/null 2>&1; then
    local csv=$scratch/timing.csv arguments=()
    for i in "${!names[@]}"; do arguments+=(--prepare "${prepares[i]}"); done
    for i in "${!names[@]}"; do arguments+=(-n "${names[i]}" "${commands[i]}"); done
    hyperfine --style basic --warmup "$warmups" --runs "$runs" --export-csv "$csv" "${arguments[@]}" >&2
    # command,mean,stddev,median,...; the names carry no commas.
    for i in "${!names[@]}"; do
      medians[${names[i]}]=$(awk -F, -v name="${names[i]}" '$1 == name { print $4 }' "$csv")
    done
  else
    # Alternating runs, so that all commands see the same conditions.
    local samples=() run start
    for ((run = 0; run < warmups + runs; ++run)); do
      for i in "${!names[@]}"; do
        bash -c "${prepares[i]}"
        start=$(date +%s%N)
        bash -c "${commands[i]}" >/dev/null 2>&1
        if [ "$run" -ge "$warmups" ]; then samples[i]+=" $(($(date +%s%N) - start))"; fi
      done
    done
    for i in "${!names[@]}"; do
      medians[${names[i]}]=$(printf '%s\n' ${samples[i]} | sort -n | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.6f", m / 1e9 }')
    done
  fi
}

# time_pair WARMUPS NAME1 PREPARE1 COMMAND1 NAME2 PREPARE2 COMMAND2
# time_commands for two commands; sets median1 and median2.
time_pair() {
  time_commands "$@"
  median1=${medians[$2]}
  median2=${medians[$5]}
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
