#!/bin/sh
# tempovaro-count beside aubioonset (a peer onset detector) on the same 60 s
# drum recording: best wall time of 7 runs each, and the ratio.
# Usage: bench_audio_count.sh [BUILD_DIR]   (default: the build dir this copy lives in)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/..}
count=$build/tools/tempovaro-count/tempovaro-count
generator=$build/bench/bench_audio_trigger
command -v aubioonset >/dev/null || { echo "bench_audio_count: aubioonset (aubio-tools) is not installed"; exit 0; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$generator" --write-recording "$tmp/sixty.wav" 60

best_ms() {
    best=
    for _ in 1 2 3 4 5 6 7; do
        start=$(date +%s%N)
        "$@" >"$tmp/out" 2>/dev/null
        end=$(date +%s%N)
        ms=$(( (end - start) / 1000 ))
        if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
    done
    echo "$best"
}

tool_us=$(best_ms "$count" "$tmp/sixty.wav")
tool_strokes=$("$count" "$tmp/sixty.wav" | tail -n 1)
aubio_us=$(best_ms aubioonset -i "$tmp/sixty.wav")
aubio_onsets=$(aubioonset -i "$tmp/sixty.wav" | wc -l)
echo "60 s recording: tempovaro-count $((tool_us / 1000)).$(( (tool_us % 1000) / 100 )) ms ($tool_strokes)"
echo "                aubioonset -i   $((aubio_us / 1000)).$(( (aubio_us % 1000) / 100 )) ms ($aubio_onsets onsets)"
awk -v a="$aubio_us" -v t="$tool_us" 'BEGIN { printf "tempovaro-count is %.1fx faster than aubioonset (target >= 3x)\n", a / t }'
