#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz/ (clang, ASan+UBSan) and runs each for SECONDS
# (default 30) over its committed seed corpus. Fails when any target finds a crash, a hang or a
# broken invariant; the input is kept in build-fuzz/fuzz-artifacts/<target>/.
#
#   tools/fuzz.sh [SECONDS] [TARGET...]      targets: request answer uri mbap (default: all)
#
# The committed corpus is only read: new inputs go to a temporary folder, or to
# $FUZZ_WORK_DIR/<target> when that is set (to keep what a long run found).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(request answer uri mbap)

build=build-fuzz
if [ ! -f "$build/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DMODBUS_BRIDGE_FUZZ=ON -DMODBUS_BRIDGE_SANITIZE=ON -DMODBUS_BRIDGE_TESTS=ON \
        -DMODBUS_BRIDGE_BENCH=OFF -DMODBUS_BRIDGE_WERROR=ON
fi
cmake --build "$build" -j "$(nproc)" --target fuzz-all

max_len() {
    case "$1" in
        request) echo 4096 ;;
        answer) echo 2048 ;;
        *) echo 1024 ;;
    esac
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

failed=()
for target in "${targets[@]}"; do
    binary=$build/fuzz/fuzz-$target
    seeds=fuzz/corpus/$target
    work=${FUZZ_WORK_DIR:+$FUZZ_WORK_DIR/$target}
    work=${work:-$scratch/$target}
    artifacts=$build/fuzz-artifacts/$target
    mkdir -p "$work" "$artifacts"
    dict=()
    [ ! -f "fuzz/$target.dict" ] || dict=(-dict="fuzz/$target.dict")

    echo "fuzz: $target for ${seconds} s"
    if "$binary" "$work" "$seeds" "${dict[@]}" -max_total_time="$seconds" \
        -max_len="$(max_len "$target")" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" 2>"$scratch/$target.log"; then
        grep -E '^#[0-9]+.*DONE|stat::number_of_executed_units|stat::average_exec_per_sec' \
            "$scratch/$target.log" || true
        echo "fuzz: $target passed ($(find "$work" -type f | wc -l) new inputs)"
    else
        tail -n 80 "$scratch/$target.log"
        echo "fuzz: $target FAILED; input in $artifacts/"
        failed+=("$target")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: failed: ${failed[*]}"
    exit 1
fi
echo "fuzz: all ${#targets[@]} targets ran without a failure"
