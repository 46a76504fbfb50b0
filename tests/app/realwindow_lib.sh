# shellcheck shell=bash disable=SC2154,SC2034  # uses and sets the caller's window, pid and status
# Shared by the real-window tests; sourced, not run.

# Chooses Datei > Beenden in the window $window of the program $pid, up to three times. The menu
# has no accelerators, so the menu title is clicked and its last item taken with Up Return.
# Sets status to the program's exit status (left empty if it never ended) and clears pid.
quit_by_menu() {
  local attempt
  for attempt in 1 2 3; do
    xdotool mousemove --window "$window" 14 9 click 1
    sleep 0.5
    xdotool key Up Return
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

# Sets WIDTH, HEIGHT and menu (the menu bar's height: what the window has beyond the designed
# client height of app/Unit1.h) for $window; returns 1 for a size that cannot be the window.
measure_window() {
  eval "$(xdotool getwindowgeometry --shell "$window")"
  menu=$((HEIGHT - 373))
  ((menu >= 10 && menu <= 60)) || { echo "unexpected window size ${WIDTH}x${HEIGHT} (menu bar $menu px?)"; return 1; }
}

# Starts a private X server and exports DISPLAY. Xvfb picks a free display number itself
# (-displayfd), so servers of other tests or of the user are never shared or raced for; it
# reports the number once it accepts connections. -noreset: an X server resets when its last
# client leaves and refuses connections meanwhile, so a program started right after another one
# ended would fail now and then. Arguments go to Xvfb. stop_xvfb ends it.
start_xvfb() {
  local i
  for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/deps.sh installs it)"; return 1; }
  done
  xvfb_dir=$(mktemp -d /tmp/qh-xvfb-XXXXXX)
  Xvfb -displayfd 3 -nolisten tcp -noreset "$@" 3>"$xvfb_dir/display" 2>"$xvfb_dir/log" &
  xvfb_pid=$!
  for ((i = 0; i < 200; i++)); do
    [[ -s $xvfb_dir/display ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { echo "FAIL: Xvfb did not start"; cat "$xvfb_dir/log"; return 1; }
    sleep 0.05
  done
  [[ -s $xvfb_dir/display ]] || { echo "FAIL: Xvfb gave no display number"; return 1; }
  export DISPLAY=":$(tr -d '[:space:]' <"$xvfb_dir/display")"
}

stop_xvfb() {
  if [[ -n ${xvfb_pid:-} ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  fi
  [[ -n ${xvfb_dir:-} ]] && rm -rf "$xvfb_dir"
  return 0
}

# The frame of a real-window run against the loopback proxy. Needs $program, $proxy and
# $artefacts. Makes the program folder $work (with a copy of the program) and the scratch folder
# $scratch (proxy files, logs, XDG runtime), starts Xvfb and the proxy with the given delay argument
# and sets $port. On exit everything is ended and removed; a run that did not set $passed keeps its
# program folder and logs under $artefacts/<name>-failed. Leaks of the desktop libraries (D-Bus,
# fontconfig) are theirs, not ours, in a sanitizer build.
start_proxied_run() { # name proxy-argument
  run_name=$1
  work=$(mktemp -d "/tmp/qh-$run_name-XXXXXX")
  scratch=$(mktemp -d "/tmp/qh-$run_name-run-XXXXXX")
  chmod 700 "$scratch"
  mkdir -p "$artefacts"
  rm -rf "${artefacts:?}/$run_name-failed"
  pid="" proxy_pid="" passed=""
  trap end_proxied_run EXIT
  trap 'exit 143' TERM INT HUP
  start_xvfb -screen 0 1280x1024x24 -dpi 96 || exit 1

  "$proxy" "$scratch/port" "$scratch/requests.log" "$2" >/dev/null 2>"$scratch/proxy.err" &
  proxy_pid=$!
  for _ in $(seq 1 100); do
    [[ -s $scratch/port ]] && break
    kill -0 "$proxy_pid" 2>/dev/null || fail "the proxy ended at start: $(cat "$scratch/proxy.err")"
    sleep 0.05
  done
  [[ -s $scratch/port ]] || fail "the proxy wrote no port"
  port=$(cat "$scratch/port")
  echo "proxy on 127.0.0.1:$port"

  printf 'leak:libdbus-1.so\nleak:libfontconfig.so\n' >"$scratch/lsan.supp"
  export LSAN_OPTIONS="suppressions=$scratch/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
  cp "$program" "$work/quandrel-halmfang"
}

end_proxied_run() {
  if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null || true; fi
  if [[ -n $proxy_pid ]] && kill -0 "$proxy_pid" 2>/dev/null; then kill "$proxy_pid" 2>/dev/null || true; fi
  if [[ -z $passed ]]; then
    mkdir -p "$artefacts/$run_name-failed"
    cp -r "$work" "$artefacts/$run_name-failed/program-folder" 2>/dev/null || true
    cp "$scratch"/*.log "$scratch"/*.err "$artefacts/$run_name-failed/" 2>/dev/null || true
    echo "artefacts of the failed run: $artefacts/$run_name-failed"
  fi
  rm -rf "$work" "$scratch"
  stop_xvfb
}

fail() {
  echo "FAIL: $*"
  [[ -f ${scratch:-}/program.log ]] && { echo "--- program output"; cat "$scratch/program.log"; }
  exit 1
}

program_alive() { [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; }
