# A private PipeWire as a Linux desktop runs it, for scripts that source this file: a session
# bus of its own, pipewire, WirePlumber and pipewire-pulse in a runtime folder of their own,
# each a daemon in a session of its own (so that the scheduler weighs it apart from the
# programs started beside it), and a null sink "capture" at 48 kHz as the default sink. The
# stock configuration, less the override that raises the smallest quantum to 1024 on a virtual
# machine (a desktop has none); the data threads real-time as rtkit makes them on a desktop
# (PipeWire asks for priority 88; REALTIME=0 leaves them normal threads, as on a machine
# without rtkit).
#
#   pipewire_start FOLDER [SINK...]   # more null sinks, driven with capture in one graph
#   pipewire_pulse_start              # pipewire-pulse again, after it was stopped
#   wireplumber_start                 # WirePlumber again, after it was stopped
#
# Exports XDG_RUNTIME_DIR, XDG_CONFIG_HOME, HOME, DBUS_SESSION_BUS_ADDRESS and PULSE_SERVER;
# sets pipewire_pid, wireplumber_pid and pulse_pid and adds every process it starts to the
# array pids, for the caller to stop. Logs go to FOLDER/*.log.

pipewire_start() {
  pipewire_folder=$1
  shift
  export XDG_RUNTIME_DIR=$pipewire_folder/runtime XDG_CONFIG_HOME=$pipewire_folder/config HOME=$pipewire_folder
  local config=$XDG_CONFIG_HOME/pipewire
  mkdir -p "$XDG_RUNTIME_DIR" "$config/pipewire.conf.d" "$config/pipewire-pulse.conf.d"
  {
    echo 'context.properties = { vm.overrides = { } }'
    echo 'context.objects = ['
    local sink priority=2000
    for sink in capture "$@"; do
      # One node.group: the first sink drives, the others follow it at the same quantum.
      cat <<SINK
  { factory = adapter
    args = { factory.name = support.null-audio-sink node.name = $sink media.class = Audio/Sink
             audio.rate = 48000 audio.channels = 2 audio.position = [ FL FR ] object.linger = true
             monitor.channel-volumes = true node.group = vesquin.sinks node.driver = true
             priority.driver = $priority priority.session = $priority } }
SINK
      priority=$((priority - 1000))
    done
    echo ']'
  } > "$config/pipewire.conf.d/desktop.conf"
  echo 'pulse.properties = { vm.overrides = { } }' > "$config/pipewire-pulse.conf.d/desktop.conf"

  dbus-daemon --session --nofork --address="unix:path=$pipewire_folder/bus" 2> "$pipewire_folder/bus.log" &
  pids+=($!)
  export DBUS_SESSION_BUS_ADDRESS=unix:path=$pipewire_folder/bus
  for _ in $(seq 50); do [ -S "$pipewire_folder/bus" ] && break; sleep 0.1; done
  setsid pipewire > "$pipewire_folder/pipewire.log" 2>&1 &
  pids+=($!)
  pipewire_pid=$!
  for _ in $(seq 50); do [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break; sleep 0.1; done
  wireplumber_start
  pipewire_pulse_start
  pipewire_realtime "$pipewire_pid"
}

wireplumber_start() {
  setsid wireplumber >> "$pipewire_folder/wireplumber.log" 2>&1 &
  pids+=($!)
  wireplumber_pid=$!
  # Ready once WirePlumber has made the capture sink the default, which it does once it can
  # link streams to it: a stream that comes before is refused ("no node available").
  for _ in $(seq 100); do
    timeout 2 pw-metadata 0 default.audio.sink 2> /dev/null | grep -q '"capture"' && break
    sleep 0.1
  done
  timeout 2 pw-metadata 0 default.audio.sink 2> /dev/null | grep -q '"capture"'
}

pipewire_pulse_start() {
  setsid pipewire-pulse >> "$pipewire_folder/pipewire-pulse.log" 2>&1 &
  pids+=($!)
  pulse_pid=$!
  export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
  for _ in $(seq 50); do pactl info > /dev/null 2>&1 && break; sleep 0.1; done
  pactl info > /dev/null
  pipewire_realtime "$pulse_pid"
}

pipewire_realtime() {  # $1: the process whose data threads (all but its main thread) to set
  local tid
  for tid in $(ls /proc/"$1"/task); do
    [ "$tid" != "$1" ] || continue
    if [ "${REALTIME:-1}" = 0 ]; then
      chrt -o -p 0 "$tid"
    elif ! chrt -p "$tid" | grep -q 'SCHED_FIFO\|SCHED_RR'; then
      chrt -f -p 88 "$tid" 2> /dev/null || echo "# chrt was refused: PipeWire's thread $tid stays a normal thread" >&2
    fi
  done
}
