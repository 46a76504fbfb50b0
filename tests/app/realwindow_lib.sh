# shellcheck shell=bash disable=SC2154,SC2034  # uses and sets the caller's window, pid and status
# Shared by the real-window tests; sourced, not run.

# Chooses Datei > Beenden in the window $window of the program $pid, up to three times. The menu
# has no accelerators, so the menu title is clicked and the first item taken with Down Return.
# Sets status to the program's exit status (left empty if it never ended) and clears pid.
quit_by_menu() {
  local attempt
  for attempt in 1 2 3; do
    xdotool mousemove --window "$window" 14 9 click 1
    sleep 0.5
    xdotool key Down Return
    for _ in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if ! kill -0 "$pid" 2>/dev/null; then
      set +e
      wait "$pid"
      status=$?
      set -e
      pid=""
      return 0
    fi
    echo "attempt $attempt: the program is still running"
    xdotool key Escape Escape || true
  done
}

# Waits up to 30 s for the visible main window of the program $pid and sets window to its id.
# Prints the program's output from <log> and returns 1 when the program ends or no window shows.
wait_for_window() { # log
  window=""
  for _ in $(seq 1 300); do
    window=$(xdotool search --onlyvisible --name '^Quandrel Halmfang 0\.1b$' 2>/dev/null | head -n 1 || true)
    [[ -n $window ]] && return 0
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "FAIL: the program ended before its window showed"
      cat "$1"
      return 1
    fi
    sleep 0.1
  done
  echo "FAIL: no window titled 'Quandrel Halmfang 0.1b'"
  return 1
}
