#!/bin/sh
# CPU of a live capture: tempovaro-count measuring 30 s from the ALSA device
# "pulse" of a private PulseAudio server while a drum recording plays into it.
# Reports the tool's user+system time as % of one core.
# Usage: bench_audio_live_cpu.sh [BUILD_DIR]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/..}
count=$build/tools/tempovaro-count/tempovaro-count
generator=$build/bench/bench_audio_trigger
command -v pulseaudio >/dev/null || { echo "bench_audio_live_cpu: pulseaudio is not installed"; exit 0; }
dir=$(mktemp -d)
server=
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT
mkdir -p "$dir/run" "$dir/state"
cat >"$dir/rig.pa" <<PA
.fail
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/run/native
load-module module-null-sink sink_name=drumsink rate=44100 channels=1 norewinds=1 sink_properties=device.description=DrumSink
set-default-sink drumsink
set-default-source drumsink.monitor
PA
export PULSE_RUNTIME_PATH=$dir/run PULSE_STATE_PATH=$dir/state PULSE_SERVER=unix:$dir/run/native
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no -F "$dir/rig.pa" \
    --log-target=file:"$dir/pa.log" &
server=$!
i=0
until pactl info >/dev/null 2>&1; do
    i=$((i + 1)); [ $i -gt 100 ] && { echo "bench_audio_live_cpu: the server did not start"; exit 1; }
    sleep 0.1
done
"$generator" --write-recording "$dir/drums.wav" 32

/usr/bin/time -f "%U %S %e" -o "$dir/time" "$count" --audio pulse --time 30 >"$dir/out" 2>/dev/null &
tool=$!
sleep 0.5
paplay "$dir/drums.wav"
wait "$tool"
read -r user sys elapsed <"$dir/time"
echo "live capture through PulseAudio: $(tail -n 1 "$dir/out")"
awk -v u="$user" -v s="$sys" -v e="$elapsed" \
    'BEGIN { printf "CPU %.2f s user + %.2f s system over %.1f s = %.2f %% of one core (target < 1 %%)\n", u, s, e, 100 * (u + s) / e }'
