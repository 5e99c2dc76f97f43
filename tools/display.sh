# shellcheck shell=bash
# Sourced: makes sure an X display is there. Uses $DISPLAY when it answers,
# otherwise starts (or reuses) a private Xvfb on display :${DIRSHIFT_XVFB:-77}.
dirshift_have_display() {
  [ -n "${DISPLAY:-}" ] && xdpyinfo -display "$DISPLAY" >/dev/null 2>&1
}

# Leaves the id of an Xvfb it started in dirshift_xvfb_pid (empty when one was
# already running there), for whoever wants to end it again.
dirshift_start_xvfb() {
  local n="${DIRSHIFT_XVFB:-77}"
  export DISPLAY=":$n"
  dirshift_xvfb_pid=
  if ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
    rm -f "/tmp/.X$n-lock" "/tmp/.X11-unix/X$n"
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    dirshift_xvfb_pid=$!
    for _ in $(seq 50); do
      xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && return 0
      sleep 0.1
    done
    echo "could not start Xvfb on $DISPLAY" >&2
    return 1
  fi
}

dirshift_stop_xvfb() {
  if [ -n "${dirshift_xvfb_pid:-}" ]; then
    kill "$dirshift_xvfb_pid" 2>/dev/null || true
    wait "$dirshift_xvfb_pid" 2>/dev/null || true
    dirshift_xvfb_pid=
  fi
}
