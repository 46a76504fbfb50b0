#!/usr/bin/env bash
# The built program under Xvfb against the loopback proxy, twice in the same folder: Check and
# Prüfe, Datei > Beenden; then the proxy moves a week on (a link removed, one turned nofollow, one
# page answering 403, one 404, one new record, one record gone) and the program, started again,
# runs Check and Prüfe once more. The changes report is compared cell by cell with
# <expected-dir>/history/aenderungen.csv, and the loss and new-row markers are looked for in a
# picture of the window.
#
# Usage: realwindow_history.sh <program> <loopback_proxy> <window_shot> <expected-dir> <artefact-dir>
set -euo pipefail
# shellcheck source=tests/app/realwindow_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/realwindow_lib.sh"

if (($# != 5)); then
  echo "usage: $0 <program> <loopback_proxy> <window_shot> <expected-dir> <artefact-dir>"
  exit 2
fi
program=$1 proxy=$2 shot=$3 expected=$4 artefacts=$5
command -v python3 >/dev/null || { echo "FAIL: python3 is missing"; exit 1; }

readonly title='Quandrel Halmfang 0.1b'
readonly domain='müller.example'
readonly stamp='müllerexample'

rm -f "$artefacts"/history*.png
start_proxied_run history 170

start_program() {
  (
    cd "$work"
    exec env -u no_proxy -u NO_PROXY -u HTTP_PROXY -u HTTPS_PROXY -u ALL_PROXY \
      http_proxy="http://127.0.0.1:$port" https_proxy="http://127.0.0.1:$port" all_proxy="http://127.0.0.1:$port" \
      LC_ALL=C XDG_RUNTIME_DIR="$scratch" QT_QPA_PLATFORM=xcb "$work/quandrel-halmfang"
  ) >>"$scratch/program.log" 2>&1 &
  pid=$!
  wait_for_window "$scratch/program.log" || fail "see above"
  sleep 0.5
  measure_window || fail "see above"
  top=$((menu + 1 + 24))
  left=1
}

click() { # x y (window coordinates)
  xdotool mousemove --window "$window" "$1" "$2" click 1
  sleep 0.3
}

box_window() {
  xdotool search --onlyvisible --name '^Quandrel Halmfang$' 2>/dev/null | head -n 1 || true
}

close_box() { # what timeout-seconds picture-name
  local what=$1 limit=$2 name=$3 box="" i
  for ((i = 0; i < limit * 10; i++)); do
    box=$(box_window)
    [[ -n $box ]] && break
    program_alive || fail "the program ended while waiting for the box after $what"
    sleep 0.1
  done
  [[ -n $box ]] || fail "no message box within ${limit}s after $what"
  sleep 0.3
  "$shot" "$box" "$artefacts/$name.png" 2>>"$scratch/shot.err" || true
  for _ in 1 2 3 4 5; do
    xdotool windowfocus --sync "$box" 2>/dev/null || true
    xdotool key --clearmodifiers Return
    for _ in $(seq 1 20); do
      [[ -z $(box_window) ]] && return 0
      sleep 0.1
    done
  done
  fail "the box after $what did not close"
}

# Types the domain, Check with SEOKICKS, then Prüfe; each ends with its "Report gespeichert" box.
check_and_pruefe() { # round
  xdotool windowfocus --sync "$window" 2>/dev/null || true
  click $((left + 10 + 50)) $((top + 8 + 10))
  xdotool key --clearmodifiers ctrl+a BackSpace
  sleep 0.2
  xdotool type --clearmodifiers --delay 80 "$domain"
  sleep 0.3
  click $((left + 79 + 8)) $((top + 35 + 8))
  click $((left + 10 + 37)) $((top + 125 + 12))
  close_box "Check $1" 40 "history-check$1-box"
  click $((left + 91 + 37)) $((top + 125 + 12))
  local done_caption="$title Gegenprüfung fertig gestellt ... " caption=""
  for _ in $(seq 1 600); do
    caption=$(xdotool getwindowname "$window" 2>/dev/null || true)
    [[ $caption == "$done_caption" ]] && break
    program_alive || fail "the program ended during Prüfe $1"
    sleep 0.1
  done
  [[ $caption == "$done_caption" ]] || fail "Prüfe $1 did not finish (caption '$caption')"
  close_box "Prüfe $1" 20 "history-pruefe$1-box"
}

quit_program() {
  status=""
  quit_by_menu
  [[ -n $status ]] || fail "Datei > Beenden did not end the program"
  [[ $status -eq 0 ]] || fail "exit status $status"
}

# --- the first week
start_program
first_before=$(date '+%d.%m.%Y %H:%M')
check_and_pruefe 1
first_after=$(date '+%d.%m.%Y %H:%M')
quit_program

# --- a week later, the program started again
kill -USR1 "$proxy_pid"
start_program
check_and_pruefe 2
sleep 0.5
"$shot" "$window" "$scratch/grid.ppm" 2>>"$scratch/shot.err" || fail "no picture of the window"
"$shot" "$window" "$artefacts/history-grid.png" 2>>"$scratch/shot.err" || true
quit_program

# --- the changes report, cell by cell; the date of the first Prüfe is the minute it started in
report=$(compgen -G "$work/reporting/backlinks/${stamp}_*_aenderungen.csv" | head -n 1 || true)
[[ -n $report ]] || fail "no changes report in reporting/backlinks"
python3 - "$expected/history/aenderungen.csv" "$report" "$first_before" "$first_after" <<'EOF' || fail "the changes report differs"
import csv, sys
expected_path, actual_path, *dates = sys.argv[1:]
def rows(path):
    with open(path, encoding="utf-8", newline="") as f:
        return list(csv.reader(f))
actual = rows(actual_path)
for date in dict.fromkeys(dates):
    expected = [[cell.replace("@VORHER@", date) for cell in row] for row in rows(expected_path)]
    if expected == actual:
        sys.exit(0)
bad = 0
for r in range(max(len(expected), len(actual))):
    want = expected[r] if r < len(expected) else []
    got = actual[r] if r < len(actual) else []
    for c in range(max(len(want), len(got))):
        w = want[c] if c < len(want) else "<none>"
        g = got[c] if c < len(got) else "<none>"
        if w != g:
            bad += 1
            print(f"line {r + 1}, cell {c + 1}: expected {w!r}, got {g!r}")
print(f"{bad} cell(s) differ (dates tried: {', '.join(dict.fromkeys(dates))})")
sys.exit(1)
EOF

# --- the markers: in the number column, a red bar beside rows 2 and 6 (link removed, nofollow) and
# a blue one beside row 7 (new); none beside the page without a link that is no longer reached,
# nor beside the one that was not reached before either.
python3 - "$scratch/grid.ppm" <<'EOF' || fail "the row markers are not where they belong (see $artefacts/history-grid.png)"
import sys
data = open(sys.argv[1], "rb").read()
fields, pos = [], 0
while len(fields) < 4:
    while data[pos:pos + 1].isspace():
        pos += 1
    end = pos
    while not data[end:end + 1].isspace():
        end += 1
    fields.append(data[pos:end])
    pos = end
pos += 1
width, height = int(fields[1]), int(fields[2])
pixels = data[pos:]
def rows_with(colour):
    ys = set()
    for y in range(height):
        line = pixels[y * width * 3:(y + 1) * width * 3]
        if any(line[x * 3:x * 3 + 3] == colour for x in range(min(width, 300))):
            ys.add(y)
    return ys
loss = rows_with(bytes((0xB7, 0x1C, 0x1C)))
new = rows_with(bytes((0x15, 0x65, 0xC0)))
if not loss or not new:
    print(f"loss marker on {len(loss)} pixel rows, new-row marker on {len(new)}")
    sys.exit(1)
first = min(loss)
ROW = 24
def grid_rows(ys):
    return sorted({(y - first) // ROW for y in ys})
print("loss rows", grid_rows(loss), "new rows", grid_rows(new))
sys.exit(0 if grid_rows(loss) == [0, 4] and grid_rows(new) == [5] else 1)
EOF

passed=1
echo "PASS: two rounds of Check and Prüfe, the changes report and the markers as expected"
