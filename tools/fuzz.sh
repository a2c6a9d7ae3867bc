#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang in build-fuzz, runs each once over its
# seed corpus (ctest), then fuzzes each for a while:
#
#   tools/fuzz.sh [SECONDS-PER-TARGET] [TARGET...]     (default: 60 s, every target)
#
# What a run learns stays in build-fuzz/corpus/<target> and the next run starts from
# it. The first finding stops the script with exit 1; its input is in
# build-fuzz/findings/, and build-fuzz/fuzz/fuzz_<target> <input> replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
qln_install_deps "${qln_fuzz_packages[@]}"

seconds="${1:-60}"
[ $# -gt 0 ] && shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

qln_build "$PWD/build-fuzz" -DQLN_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd build-fuzz && ctest --output-on-failure -j2 --timeout 600)

mkdir -p build-fuzz/findings
for target in "${targets[@]}"; do
    echo "== fuzz_$target for $seconds s"
    mkdir -p "build-fuzz/corpus/$target"
    # -timeout: an input that takes 10 s is a hang, and a finding.
    build-fuzz/fuzz/fuzz_"$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="build-fuzz/findings/$target-" "build-fuzz/corpus/$target" "fuzz/corpus/$target" \
        2>&1 | grep -v -E '^#[0-9]+\s+(NEW|REDUCE|pulse)' || { echo "fuzz_$target found a fault: see build-fuzz/findings/"; exit 1; }
done
