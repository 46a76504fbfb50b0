#!/usr/bin/env bash
# Starts the built program in an empty folder under Xvfb, chooses Datei > Beenden with the mouse
# and the keyboard, and checks that it exits with status 0 and leaves no file behind.
# Usage: realwindow_beenden.sh <program>
set -euo pipefail
# shellcheck source=tests/app/realwindow_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/realwindow_lib.sh"

program=$1

work=$(mktemp -d /tmp/qh-realwindow-XXXXXX)
runtime=$(mktemp -d /tmp/qh-runtime-XXXXXX)
chmod 700 "$runtime"
pid=""
cleanup() {
  if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null || true; fi
  rm -rf "$work" "$runtime"
  stop_xvfb
}
trap cleanup EXIT
start_xvfb -screen 0 1024x768x24 || exit 1

cp "$program" "$work/quandrel-halmfang"
before=$(cd "$work" && ls -A)

# The command line: --version and --help answer without a display; anything else is refused
# with status 2 before a window opens, also without a display. The toolkit's own options pass.
check_command_line() { # expected-status expected-output-start arguments...
  local want=$1 start=$2 got=0 text
  shift 2
  text=$(XDG_RUNTIME_DIR=$runtime "$work/quandrel-halmfang" "$@" 2>&1) || got=$?
  [[ $got -eq $want && $text == "$start"* ]] ||
    { echo "FAIL: '$*' gave status $got and: $text"; exit 1; }
}
(
  unset DISPLAY
  export QT_QPA_PLATFORM=xcb
  check_command_line 0 'Quandrel Halmfang 0.1b' --version
  check_command_line 0 'Aufruf: quandrel-halmfang [Option]' --help
  check_command_line 0 'Quandrel Halmfang 0.1b' -reverse --platform xcb -style=fusion --version
  check_command_line 2 'quandrel-halmfang: Unbekannte Option: --bogus' --bogus
  check_command_line 2 'quandrel-halmfang: Unbekannte Option: --bogus' -platform xcb -bogus
  check_command_line 2 'quandrel-halmfang: Unerwartetes Argument: example.org' -geometry 640x480 example.org
)
check_command_line 2 'quandrel-halmfang: Unbekannte Option: --bogus' --bogus
check_command_line 2 'quandrel-halmfang: Unerwartetes Argument: example.org' example.org
XDG_RUNTIME_DIR=$runtime QT_QPA_PLATFORM=xcb "$work/quandrel-halmfang" >"$runtime/out.log" 2>&1 &
pid=$!

wait_for_window "$runtime/out.log" || exit 1
echo "window $window: $(xdotool getwindowname "$window")"
sleep 0.5

# "Datei" is the first entry of the menu bar at the window's top left; without accelerators the
# menu is opened by a click, its first item chosen with Down and Return.
status=""
quit_by_menu

[[ -n $status ]] || { echo "FAIL: Datei > Beenden did not end the program"; exit 1; }
[[ $status -eq 0 ]] || { echo "FAIL: exit status $status"; cat "$runtime/out.log"; exit 1; }
after=$(cd "$work" && ls -A)
[[ $before == "$after" ]] || { echo "FAIL: files appeared in the program folder:"; echo "$after"; exit 1; }
echo "PASS: exit status 0, program folder unchanged"
