#!/usr/bin/env bash
# The built program in an empty folder under Xvfb, with every HTTP request going to a loopback
# proxy that plays the SEOkicks service and the linking pages. Driven by xdotool: type the domain,
# choose SEOKICKS, Check, close the box, Prüfe, close the box, Datei > Beenden. Then the files the
# program wrote and the requests the proxy saw are compared byte for byte with <expected-dir>.
# Pictures of the window and of each box are kept in <artefact-dir> (not compared).
#
# Usage: realwindow_crosscheck.sh <program> <loopback_proxy> <window_shot> <expected-dir> <artefact-dir>
set -euo pipefail
# shellcheck source=tests/app/realwindow_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/realwindow_lib.sh"

# 1: also press Prüfe and compare the cross-check reports. 0: stop after Check (to look at
# Check alone). QH_E2E_PRUEFE overrides it.
PRUEFE_ENABLED=${QH_E2E_PRUEFE:-1}

if (($# != 5)); then
  echo "usage: $0 <program> <loopback_proxy> <window_shot> <expected-dir> <artefact-dir>"
  exit 2
fi
program=$1 proxy=$2 shot=$3 expected=$4 artefacts=$5

for tool in cmp diff; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing"; exit 1; }
done

readonly title='Quandrel Halmfang 0.1b'
readonly domain='müller.example'
readonly stamp='müllerexample'

rm -f "$artefacts"/crosscheck*.png "$artefacts"/check*.png
# Every scheme of the program goes through the proxy, nothing exempt, so nothing leaves the machine.
start_proxied_run crosscheck 165
date_before=$(date +%d%m%Y)
(
  cd "$work"
  exec env -u no_proxy -u NO_PROXY -u HTTP_PROXY -u HTTPS_PROXY -u ALL_PROXY \
    http_proxy="http://127.0.0.1:$port" https_proxy="http://127.0.0.1:$port" all_proxy="http://127.0.0.1:$port" \
    LC_ALL=C XDG_RUNTIME_DIR="$scratch" QT_QPA_PLATFORM=xcb "$work/quandrel-halmfang"
) >"$scratch/program.log" 2>&1 &
pid=$!

wait_for_window "$scratch/program.log" || fail "see above"
sleep 0.5

# Positions of app/Unit1.cpp: the Checks panel's content starts below the menu bar, the group's
# 1-pixel margin and the 24-pixel panel header.
measure_window || fail "see above"
top=$((menu + 1 + 24))
left=1
echo "window $window ${WIDTH}x${HEIGHT}, menu bar $menu px"

click() { # x y (window coordinates)
  xdotool mousemove --window "$window" "$1" "$2" click 1
  sleep 0.3
}

box_window() {
  xdotool search --onlyvisible --name '^Quandrel Halmfang$' 2>/dev/null | head -n 1 || true
}

# Waits for the message box, keeps its picture, closes it with Return.
close_box() { # what timeout-seconds picture-name
  local what=$1 limit=$2 name=$3 box="" i
  for ((i = 0; i < limit * 10; i++)); do
    box=$(box_window)
    [[ -n $box ]] && break
    program_alive || fail "the program ended while waiting for the box after $what"
    sleep 0.1
  done
  [[ -n $box ]] || fail "no message box within ${limit}s after $what (caption: $(xdotool getwindowname "$window"))"
  sleep 0.3
  "$shot" "$box" "$artefacts/$name.png" 2>>"$scratch/shot.err" || echo "note: no picture of the box after $what"
  for attempt in 1 2 3 4 5; do
    xdotool windowfocus --sync "$box" 2>/dev/null || true
    xdotool key --clearmodifiers Return
    for _ in $(seq 1 20); do
      [[ -z $(box_window) ]] && return 0
      sleep 0.1
    done
    echo "the box after $what is still open (attempt $attempt)"
  done
  fail "the box after $what did not close"
}

# --- the domain
xdotool windowfocus --sync "$window" 2>/dev/null || true
click $((left + 10 + 50)) $((top + 8 + 10))
xdotool key --clearmodifiers ctrl+a BackSpace
sleep 0.2
xdotool type --clearmodifiers --delay 80 "$domain"
sleep 0.3

# --- SEOKICKS, Check
click $((left + 79 + 8)) $((top + 35 + 8))
click $((left + 10 + 37)) $((top + 125 + 12))
close_box "Check" 40 check-box
compgen -G "$work/reporting/seokicks/*.html" >/dev/null ||
  fail "Check wrote no report: the box was an error box? (see $artefacts/check-box.png)"
"$shot" "$window" "$artefacts/check.png" 2>>"$scratch/shot.err" || echo "note: no picture after Check"

# --- Prüfe
if [[ $PRUEFE_ENABLED == 1 ]]; then
  click $((left + 91 + 37)) $((top + 125 + 12))
  done_caption="$title Gegenprüfung fertig gestellt ... "
  caption="" seen_progress=""
  for _ in $(seq 1 600); do
    caption=$(xdotool getwindowname "$window" 2>/dev/null || true)
    [[ $caption == "$title checke: "* ]] && seen_progress=1
    [[ $caption == "$done_caption" ]] && break
    program_alive || fail "the program ended during Prüfe"
    sleep 0.1
  done
  [[ $caption == "$done_caption" ]] || fail "the caption never became '$done_caption' (last: '$caption')"
  [[ -n $seen_progress ]] || echo "note: no 'checke:' caption was seen (polled every 0.1 s)"
  close_box "Prüfe" 20 crosscheck-box
  # Wide enough for the Status column in the picture; nothing that is compared depends on it.
  xdotool windowsize --sync "$window" 1200 "$HEIGHT" 2>/dev/null || xdotool windowsize "$window" 1200 "$HEIGHT" || true
  sleep 0.5
  "$shot" "$window" "$artefacts/crosscheck.png" 2>>"$scratch/shot.err" || echo "note: no picture after Prüfe"
else
  echo "note: Prüfe skipped (PRUEFE_ENABLED=0)"
fi

# --- Datei > Beenden
status=""
quit_by_menu
[[ -n $status ]] || fail "Datei > Beenden did not end the program"
[[ $status -eq 0 ]] || fail "exit status $status"
date_after=$(date +%d%m%Y)

kill "$proxy_pid" 2>/dev/null || true
wait "$proxy_pid" 2>/dev/null || true
proxy_pid=""

# --- the files
date_stamp=$date_before
[[ -d $work/reporting/seokicks && ! -e $work/reporting/seokicks/${stamp}_${date_before}.csv ]] && date_stamp=$date_after

mismatches=0
compare() { # expected-file actual-file
  if [[ ! -f $2 ]]; then
    echo "MISSING: ${2#"$work"/}"
    mismatches=$((mismatches + 1))
  elif ! cmp -s "$1" "$2"; then
    echo "DIFFERS: ${2#"$work"/} from ${1#"$expected"/}"
    diff -u --label "expected ${1##*/}" --label "actual ${2##*/}" <(sed 's/\r$/\\r/' "$1") <(sed 's/\r$/\\r/' "$2") |
      head -n 40 || true
    mismatches=$((mismatches + 1))
  fi
}

expected_files=(quandrel-halmfang domains.txt tmp_seokicks.txt halmfang.db
  "reporting/seokicks/${stamp}_${date_stamp}.csv" "reporting/seokicks/${stamp}_${date_stamp}.html")
compare "$expected/domains.txt" "$work/domains.txt"
compare "$expected/tmp_seokicks.txt" "$work/tmp_seokicks.txt"
compare "$expected/seokicks.csv" "$work/reporting/seokicks/${stamp}_${date_stamp}.csv"
compare "$expected/seokicks.html" "$work/reporting/seokicks/${stamp}_${date_stamp}.html"
if [[ $PRUEFE_ENABLED == 1 ]]; then
  expected_files+=("reporting/backlinks/${stamp}_${date_stamp}.csv" "reporting/backlinks/${stamp}_${date_stamp}.html"
    "reporting/backlinks/${stamp}_${date_stamp}_details.csv"
    "reporting/backlinks/${stamp}_${date_stamp}_aenderungen.csv" "reporting/backlinks/${stamp}_${date_stamp}_aenderungen.html")
  compare "$expected/backlinks.csv" "$work/reporting/backlinks/${stamp}_${date_stamp}.csv"
  compare "$expected/backlinks.html" "$work/reporting/backlinks/${stamp}_${date_stamp}.html"
  compare "$expected/backlinks_details.csv" "$work/reporting/backlinks/${stamp}_${date_stamp}_details.csv"
  cat "$expected/requests_check.log" "$expected/requests_crosscheck.log" >"$scratch/requests.expected"
  compare "$scratch/requests.expected" "$scratch/requests.log"
else
  compare "$expected/requests_check.log" "$scratch/requests.log"
fi

# Nothing else in the program folder.
actual_list=$(cd "$work" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
wanted_list=$(printf '%s\n' "${expected_files[@]}" | LC_ALL=C sort)
if [[ $actual_list != "$wanted_list" ]]; then
  echo "DIFFERS: the files in the program folder"
  diff -u <(echo "$wanted_list") <(echo "$actual_list") || true
  mismatches=$((mismatches + 1))
fi

((mismatches == 0)) || fail "$mismatches file(s) differ from $expected"
passed=1
echo "PASS: Check$([[ $PRUEFE_ENABLED == 1 ]] && echo " and Prüfe") as expected; pictures in $artefacts"
