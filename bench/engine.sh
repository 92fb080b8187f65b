#!/usr/bin/env bash
# Builds and runs the engine benchmark and prints one table: messages per
# second through DataArrived per format with the trace off and on (and their
# ratio to the baseline measured in the same run), and the time from a
# message's arrival to the simulated clock being set.
#   bench/engine.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
[ -f "$BUILD/build.ninja" ] || cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" --target bench_engine -j2 >/dev/null
json=$(mktemp)
trap 'rm -f "$json"' EXIT
"$BUILD/bench/bench_engine" --benchmark_format=json --benchmark_min_time=0.3 >"$json"
python3 - "$json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
base = next(r for r in runs if r["name"].startswith("BM_Baseline"))
base_rate = base["items_per_second"]
print(f"baseline ({base['label']}): {base_rate:,.0f} lines/s")
print()
print(f"{'format':<12} {'trace off msg/s':>16} {'x baseline':>11} {'trace on msg/s':>16} {'x baseline':>11}")
rates = {}
for r in runs:
    if r["name"].startswith("BM_DataArrived"):
        fmt, trace = r["label"].split(", ")
        rates.setdefault(fmt, {})[trace] = r.get("items_per_second", 0)
for fmt, t in rates.items():
    off, on = t.get("trace off", 0), t.get("trace on", 0)
    print(f"{fmt:<12} {off:>16,.0f} {off/base_rate:>11.2f} {on:>16,.0f} {on/base_rate:>11.2f}")
print()
print(f"{'format':<12} {'arrival to clock set (us)':>26}")
for r in runs:
    if r["name"].startswith("BM_ArrivalToSetting"):
        print(f"{r['label']:<12} {r['real_time']:>26.1f}")
PY
