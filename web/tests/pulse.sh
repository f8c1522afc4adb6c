# Sourced by the browser checks and the bench: starts a private PulseAudio server in $work with
# a null sink named vesquin at 48 kHz, and sets $pulse_pid and PULSE_SERVER; then a listener
# on the sink's monitor ($listener_pid): a sound card plays its buffer out in short periods,
# while an idle null sink sleeps through long blocks, which would hold a stream's clock back
# by as much. The caller stops both.
mkdir -p "$work/pulse"
XDG_RUNTIME_DIR="$work/pulse" HOME="$work/pulse" pulseaudio -n --log-level=info --daemonize=no --exit-idle-time=-1 \
  --disable-shm=yes --use-pid-file=no -L "module-null-sink sink_name=vesquin rate=48000 channels=2" \
  -L "module-native-protocol-unix socket=$work/pulse/socket auth-anonymous=1" > "$work/pulse.log" 2>&1 &
pulse_pid=$!
for _ in $(seq 100); do [ -S "$work/pulse/socket" ] && break; sleep 0.05; done
[ -S "$work/pulse/socket" ] || { cat "$work/pulse.log" >&2; exit 1; }
PULSE_SERVER="unix:$work/pulse/socket"
PULSE_SERVER="$PULSE_SERVER" parec -d vesquin.monitor --raw --latency-msec=2 > /dev/null &
listener_pid=$!
