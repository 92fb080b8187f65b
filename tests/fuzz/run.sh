#!/usr/bin/env bash
# Builds the engine's fuzz targets with clang's libFuzzer and AddressSanitizer
# into build-fuzz/ and runs each for the given number of seconds (default 60).
#   tests/fuzz/run.sh [SECONDS] [TARGET...]
# Findings (crash-*, leak-*, timeout-*) land in build-fuzz/findings/<target>/.
set -euo pipefail
cd "$(dirname "$0")/../.."
SECONDS_PER_TARGET=${1:-60}
shift || true
TARGETS=("$@")
[ ${#TARGETS[@]} -eq 0 ] && TARGETS=(fuzz_text_parsers fuzz_custom_format fuzz_binary_parsers fuzz_driver)

OUT=build-fuzz
mkdir -p "$OUT/obj" "$OUT/findings"
CXX=${CXX_FUZZ:-clang++}
FLAGS=(-std=c++20 -g -O1 -fPIC -fsanitize=address,fuzzer-no-link -DQT_NO_KEYWORDS
       -Isrc -Itests/fuzz $(pkg-config --cflags Qt6Core))
LIBS=($(pkg-config --libs Qt6Core))

# The engine and what it stands on; nothing of the network or the windows.
SOURCES=(src/timeset/*.cpp src/runtime/*.cpp src/logging/DebugLog.cpp src/logging/SyncStatus.cpp
         src/platform/SystemClock.cpp src/platform/TimeZoneInfo.cpp
         src/platform/LocaleInfo.cpp src/platform/DataFolder.cpp src/platform/PrivateFile.cpp
         src/settings/AppState.cpp src/settings/COptions.cpp)
OBJECTS=()
for src in "${SOURCES[@]}"; do
    obj="$OUT/obj/$(echo "$src" | tr / _).o"
    if [ ! -f "$obj" ] || [ "$src" -nt "$obj" ]; then
        "$CXX" "${FLAGS[@]}" -c "$src" -o "$obj"
    fi
    OBJECTS+=("$obj")
done

export NCLMOD_SIMCLOCK="$PWD/$OUT/simclock.offset" # belt and braces: the targets install their own clock
printf '%-22s %10s %12s %10s %s\n' target seconds executions exec/s findings
for target in "${TARGETS[@]}"; do
    "$CXX" "${FLAGS[@]}" -fsanitize=fuzzer "tests/fuzz/$target.cpp" "${OBJECTS[@]}" "${LIBS[@]}" \
        -o "$OUT/$target"
    corpus="$OUT/corpus/$target"
    findings="$OUT/findings/$target"
    mkdir -p "$corpus" "$findings"
    [ -d "tests/fuzz/seeds/$target" ] && cp -n tests/fuzz/seeds/"$target"/* "$corpus"/ 2>/dev/null || true
    log="$OUT/$target.log"
    set +e
    "$OUT/$target" "$corpus" -max_total_time="$SECONDS_PER_TARGET" -max_len=512 -timeout=10 \
        -artifact_prefix="$findings/" -print_final_stats=1 >"$log" 2>&1
    rc=$?
    set -e
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
    rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
    found=$(ls "$findings" | wc -l)
    printf '%-22s %10s %12s %10s %s\n' "$target" "$SECONDS_PER_TARGET" "$execs" "$rate" "$found (exit $rc)"
done
