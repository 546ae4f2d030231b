# The fuzzing stage of scripts/test: builds the libFuzzer targets with clang in build/fuzz and runs
# each for the seconds given (scripts/test: 30), as many at once as there are cores, with a fixed
# seed on a copy of its seed corpus. Any crash, leak, sanitizer report or broken invariant fails
# the stage. Nothing is written into the source tree: the corpus copy, new inputs, crash artifacts
# and the converter's output file all go to a temporary directory that is removed afterwards.
#
# Usage: source scripts/lib/fuzz_stage.sh; zq_fuzz_stage [seconds-per-target]

ZQ_FUZZ_PACKAGES=(clang libclang-rt-14-dev cmake ninja-build)
ZQ_FUZZ_TARGETS=(hex_convert_fuzzer hex_record_fuzzer hex_reader_fuzzer image_file_fuzzer operation_fuzzer)

# Runs one target; prints its figures and returns non-zero on any finding.
_zq_fuzz_run() {
    local binary=$1 corpus=$2 seconds=$3
    local work
    work=$(mktemp -d "${TMPDIR:-/tmp}/zq417-fuzz.XXXXXX") || return 1
    mkdir -p "$work/corpus" "$work/tmp"
    cp -R "$corpus/." "$work/corpus/"
    local status=0
    # In the work directory, so that artifacts land there; TMPDIR takes the converter's output.
    (
        cd "$work" &&
            TMPDIR="$work/tmp" \
            ASAN_OPTIONS="detect_leaks=1:abort_on_error=0" \
            UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
            "$binary" -seed=1 -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" >"$work/log" 2>&1
    ) || status=$?
    local name
    name=$(basename "$binary")
    local runs
    runs=$(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$work/log" | grep -Eo '[0-9]+$')
    local seconds_taken
    seconds_taken=$(grep -Eo 'Done [0-9]+ runs in [0-9]+ second' "$work/log" | grep -Eo 'in [0-9]+' |
        grep -Eo '[0-9]+')
    local corpus_size
    corpus_size=$(find "$work/corpus" -type f | wc -l)
    local artifacts
    artifacts=$(find "$work" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' \
        -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
    echo "$name: ${runs:-?} executions in ${seconds_taken:-?} s, corpus ${corpus_size} inputs," \
        "findings ${artifacts}, exit status ${status}"
    if [ "$status" -ne 0 ] || [ "$artifacts" -ne 0 ] || [ -n "$(ls -A "$work/tmp")" ]; then
        echo "== $name failed; the end of its log:" >&2
        tail -n 60 "$work/log" >&2
        if [ -n "$(ls -A "$work/tmp")" ]; then
            echo "== $name left files behind: $(ls -A "$work/tmp")" >&2
        fi
        # The inputs that failed are kept, so that the finding can be run again.
        if [ "$artifacts" -ne 0 ]; then
            local kept
            kept="$(dirname "$(dirname "$binary")")/fuzz-findings/$name"
            mkdir -p "$kept"
            find "$work" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' \
                -o -name 'timeout-*' -o -name 'oom-*' \) -exec cp {} "$kept/" \;
            echo "== $name: the failing inputs are in $kept" >&2
        fi
        status=1
    fi
    rm -rf "$work"
    return "$status"
}

# Builds the targets in build/fuzz (scripts/test starts this early, beside other work).
zq_fuzz_build() {
    local root
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
    zq_install_missing "${ZQ_FUZZ_PACKAGES[@]}" || return 1
    local build="$root/build/fuzz"
    # The fuzz directory as a project of its own: the front ends' packages are not needed.
    cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || return 1
    cmake --build "$build" -j "$(nproc)" --target "${ZQ_FUZZ_TARGETS[@]}"
}

zq_fuzz_stage() {
    local seconds=${1:-60}
    local root
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
    local build="$root/build/fuzz"
    zq_fuzz_build || return 1
    # One target a core at a time: each still gets its whole time, and the stage takes a
    # fraction of it. Each one's report is printed whole, in the order of the list.
    local jobs
    jobs=$(nproc)
    local reports
    reports=$(mktemp -d "${TMPDIR:-/tmp}/zq417-fuzz-reports.XXXXXX") || return 1
    local i=0 failed=0 target
    local pids=()
    for target in "${ZQ_FUZZ_TARGETS[@]}"; do
        _zq_fuzz_run "$build/$target" "$root/fuzz/corpus/$target" "$seconds" \
            >"$reports/$i" 2>&1 &
        pids+=("$!")
        i=$((i + 1))
        if [ "${#pids[@]}" -ge "$jobs" ]; then
            wait "${pids[0]}" || failed=1
            pids=("${pids[@]:1}")
        fi
    done
    local pid
    for pid in "${pids[@]}"; do
        wait "$pid" || failed=1
    done
    cat "$reports"/*
    rm -rf "$reports"
    return "$failed"
}
