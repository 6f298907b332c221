# shellcheck shell=bash
# Helpers of the scripts that start the viewer (and mpv) under a virtual X
# display: fresh folders for each start, waiting for a log line, ending a
# start. Sourced, not run. make_card uses the caller's APP, WORK and CARD.

# fresh_home DIR: empty home, config, cache, data and runtime folders in DIR
# (no settings, no map cache, no shader cache from an earlier start).
fresh_home() {
  local home="$1"
  rm -rf "$home"
  mkdir -p "$home/run"
  chmod 700 "$home/run"
  export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache"
  export XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home/run"
}

# alive PID: it runs (an ended child not yet waited for does not).
alive() {
  local state
  state=$(sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | cut -c1)
  [ -n "$state" ] && [ "$state" != Z ]
}

# wait_for FILE PATTERN SECONDS PID: until PATTERN is in FILE, PID ends or
# the time is up.
wait_for() {
  local i
  for ((i = 0; i < $3 * 10; ++i)); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    alive "$4" || return 1
    sleep 0.1
  done
  return 1
}

# stop PID: asks it to end, and ends it after 5 s (a start interrupted in
# the middle has been seen to outlive the request). ENDED tells how it
# ended: 143 and 137 are this function's TERM and KILL.
stop() {
  local i status=0
  kill "$1" 2>/dev/null || true
  for ((i = 0; i < 50; ++i)); do
    alive "$1" || break
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || status=$?
  # shellcheck disable=SC2034 # read by the caller
  ENDED="exit status $status"
}

# make_card: the demo card in $CARD, made once by the viewer's --demo.
make_card() {
  [ -d "$CARD/DCIM" ] && return
  echo "making the demo card in $CARD (once)..." >&2
  fresh_home "$WORK/card-home"
  "$APP" --demo --timing >"$WORK/card.log" 2>&1 &
  local pid=$!
  # The card is renamed into place when complete; the list then fills.
  wait_for "$WORK/card.log" "timing: list-filled" 300 "$pid" ||
    { stop "$pid"; echo "the demo card was not made, see $WORK/card.log" >&2; exit 1; }
  stop "$pid"
  rm -rf "$CARD"
  mv "$HOME/.cache/tachora/demo" "$CARD"
}
