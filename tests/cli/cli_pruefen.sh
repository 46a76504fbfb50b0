#!/usr/bin/env bash
# `pruefen` without a display, against the loopback proxy that plays SEOkicks and the linking
# pages (XOVI, over https, it refuses: the failing service), and `ueberwachen` with its watch list;
# then a Search Console list read instead of a service, on its own and from the watch list.
# One table of runs, each with its exit status and what stdout and stderr must hold; then a run
# stopped by SIGTERM mid-Prüfe. The session bus is one that does not exist, except for the
# scheduled run, which notifies through a private bus and a fake notification service.
#
# Usage: cli_pruefen.sh <program> <loopback_proxy> <fake_notifications>
set -euo pipefail
(($# == 3)) || { echo "usage: $0 <program> <loopback_proxy> <fake_notifications>"; exit 2; }
program=$1 proxy=$2 notifications=$3
command -v dbus-daemon >/dev/null || { echo "FAIL: dbus-daemon is missing (scripts/deps.sh installs it)"; exit 1; }

work=$(mktemp -d /tmp/qh-cli-XXXXXX) # the program folder
proxy_pid="" run_pid="" bus_pid="" service_pid=""
cleanup() {
  [[ -n $service_pid ]] && kill "$service_pid" 2>/dev/null || true
  [[ -n $bus_pid ]] && kill "$bus_pid" 2>/dev/null || true
  [[ -n $run_pid ]] && kill "$run_pid" 2>/dev/null || true
  [[ -n $proxy_pid ]] && kill "$proxy_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$proxy" "$work/port" "$work/requests.log" 170 >/dev/null 2>"$work/proxy.err" &
proxy_pid=$!
for _ in $(seq 1 100); do [[ -s $work/port ]] && break; sleep 0.05; done
port=$(cat "$work/port")

# The program beside its files, as when unpacked; no display, every scheme through the proxy.
ln "$program" "$work/quandrel-halmfang" 2>/dev/null || cp "$program" "$work/quandrel-halmfang"
printf 'geheimer-xovi-schluessel\r\ngeheimer-seokicks-code\r\n' >"$work/config.txt"
# The private bus with the fake service, and an xdg-open that notes what it was to open.
dbus-daemon --session --nofork --print-address=1 >"$work/bus" 2>"$work/bus.err" &
bus_pid=$!
for _ in $(seq 1 100); do [[ -s $work/bus ]] && break; sleep 0.05; done
private_bus=$(head -n 1 "$work/bus")
"$notifications" "$private_bus" "$work/notifications" 2>"$work/notifications.err" &
service_pid=$!
for _ in $(seq 1 100); do [[ -e $work/notifications.ready ]] && break; sleep 0.05; done
mkdir "$work/bin"
printf '#!/bin/sh\necho "$1" >>"%s/geoeffnet"\n' "$work" >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
bus="unix:path=$work/kein-bus"
use_private_bus() { bus=$private_bus; }

program_env=(env -u DISPLAY -u WAYLAND_DISPLAY -u no_proxy -u NO_PROXY -u HTTP_PROXY -u HTTPS_PROXY -u ALL_PROXY \
    PATH="$work/bin:$PATH" http_proxy="http://127.0.0.1:$port" https_proxy="http://127.0.0.1:$port" all_proxy="http://127.0.0.1:$port" \
    LC_ALL=C.UTF-8)
run() { "${program_env[@]}" DBUS_SESSION_BUS_ADDRESS="$bus" "$work/quandrel-halmfang" "$@"; }
control() {
  exec 3<>"/dev/tcp/127.0.0.1/$port"
  printf 'GET http://loopback.steuerung/%s HTTP/1.1\r\nHost: loopback.steuerung\r\n\r\n' "$1" >&3
  cat <&3 >/dev/null
  exec 3<&-
}
remove_link() { control link-entfernen; }
take_page_off() { control seite-abschalten; }
take_page_on() { control seite-anschalten; }

# Another process at work in the program folder (as the window during a command), for 2 s.
hold_lock() {
  flock "$work" sleep 2 &
  holder=$!
  sleep 0.3
}
release_lock() { wait "$holder"; }

# Search Console's "Latest links" of two of the proxy's pages, one of them twice.
printf 'Linking page,Last crawled\r\nhttp://latin1.example/verzeichnis.html,2024-05-17\r\nhttp://puny.example/links.html,2024-05-12\r\nhttp://PUNY.example/links.html,2024-05-12\r\n' >"$work/links.csv"

failures=0
# name | before | arguments | status | stdout pattern | stderr pattern
cases=(
  "ohne Domain||pruefen|2||braucht eine Domain"
  "falsche Option||pruefen müller.example --schnell|2||Unbekannte Option: --schnell"
  "falscher Dienst||pruefen müller.example --dienst abc|2||Unbekannter Dienst"
  "--ohne-browser bekannt||pruefen --ohne-browser|2||pruefen braucht eine Domain"
  "--ohne-browser bei ueberwachen||ueberwachen --ohne-browser|2||ueberwachen braucht --hinzufuegen"
  "Hilfe||pruefen --help|0|Rückgabewerte|"
  "erste Prüfe||pruefen müller.example|0|^Erste Prüfung dieser Domain|checke: http://gefunden.example"
  "nur Check||pruefen müller.example --ohne-pruefe --max 5|0|^6 Backlinks von SEOkicks geholt$|Report gespeichert"
  "weiter nicht erreichbar||pruefen müller.example|0|: 1 Seite weiterhin nicht erreichbar$|"
  "Link entfernt|remove_link|pruefen müller.example --json --benachrichtigen|3|\"Link entfernt\":1.*_aenderungen.html.*\"verloren\":1,\"verluste\":\\{\"Link entfernt\":1\\}|^Keine Benachrichtigung: Es gibt keinen Sitzungsbus"
  "Dienst fällt aus||pruefen müller.example --dienst xovi|1||api.xovi.net"
  "aufnehmen||ueberwachen --hinzufuegen müller.example --intervall täglich|0|täglich geprüft|"
  "falsches Intervall||ueberwachen --hinzufuegen a.example --intervall stündlich|2||Unbekanntes Intervall"
  "zwei Aktionen||ueberwachen --liste --faellige|2||Nur eine von"
  "Liste||ueberwachen --liste|0|^müller.example.seokicks.100.täglich.nie.fällig$|"
  "Ordner belegt|hold_lock|ueberwachen --faellige --warten 1|1||^müller.example: Übersprungen: Ein anderer Lauf"
  "fällige prüfen|release_lock; use_private_bus; take_page_off|ueberwachen --faellige|3|^müller.example: Seit der Prüfung.*: 1 Seite nicht erreichbar, 1 Seite weiterhin nicht erreichbar$|"
  "nichts mehr fällig||ueberwachen --liste|0|täglich.[0-9]{2}\.[0-9]{2}\.[0-9]{4} [0-9:]{5}$|"
  "entfernen||ueberwachen --entfernen MÜLLER.example|0||"
  "nicht in der Liste||ueberwachen --entfernen müller.example|1||steht nicht in der"
  "Liste ohne Datei||pruefen müller.example --liste|2||--liste braucht einen Wert"
  "Liste und Dienst||pruefen müller.example --liste $work/links.csv --dienst xovi|2||gelten nicht zusammen mit --liste"
  "Liste lesen|take_page_on|pruefen müller.example --liste $work/links.csv --json|0|\"backlinks\":2,\"berichte\":\[[^]]*reporting/liste/müllerexample_.*\"dienst\":\"liste\",.*\"gefunden\":2,|checke: http://puny.example"
  "Liste überwachen||ueberwachen --hinzufuegen müller.example --liste $work/links.csv --intervall täglich|0|täglich geprüft|"
  "Liste steht drin||ueberwachen --liste|0|^müller.example.liste.$work/links.csv.täglich.nie.fällig$|"
  "Liste fehlt|mv $work/links.csv $work/links.alt|ueberwachen --faellige|1||^müller.example: Die Liste $work/links.csv gibt es nicht \(mehr\)"
  "Liste geprüft|mv $work/links.alt $work/links.csv|ueberwachen --faellige|0|^müller.example: Seit der Prüfung.*keine Änderungen|"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r name before arguments want out_pattern err_pattern <<<"$entry"
  [[ -n $before ]] && eval "$before"
  set +e
  # shellcheck disable=SC2086  # the arguments are words
  run $arguments >"$work/out" 2>"$work/err"
  status=$?
  set -e
  cp "$work/out" "$work/out-$name"
  problem=""
  ((status == want)) || problem="exit status $status, expected $want"
  [[ -z $out_pattern ]] || grep -Eq -- "$out_pattern" "$work/out" || problem+=" stdout lacks /$out_pattern/"
  [[ -z $err_pattern ]] || grep -Eq -- "$err_pattern" "$work/err" || problem+=" stderr lacks /$err_pattern/"
  if grep -q geheim "$work/out" "$work/err"; then problem+=" a secret shows"; fi
  if [[ -n $problem ]]; then
    echo "FAIL $name: $problem"; echo "--- stdout"; cat "$work/out"; echo "--- stderr"; cat "$work/err"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
done

# The JSON object of the run with the loss names each report it wrote; they exist.
grep -o '"berichte":\[[^]]*\]' "$work/out-Link entfernt" | grep -o '"/[^"]*"' | tr -d '"' | while read -r path; do
  [[ -f $path ]] || { echo "FAIL: reported file missing: $path"; exit 1; }
done || { echo "FAIL: the JSON object names no reports"; failures=$((failures + 1)); }

# The scheduled run's notification: what the service got, and the report its action opened.
expected="Quandrel Halmfang|org.quandrel.Halmfang|Quandrel Halmfang: 1 Link verloren|müller.example/1 × Seite nicht erreichbar|bericht,Bericht öffnen|org.quandrel.Halmfang"
if [[ $(cat "$work/notifications" 2>/dev/null) == "$expected" ]] && grep -q '_aenderungen\.html$' "$work/geoeffnet" 2>/dev/null; then
  echo "ok   Benachrichtigung"
else
  echo "FAIL Benachrichtigung:"; cat "$work/notifications" "$work/notifications.err" "$work/geoeffnet" 2>&1
  failures=$((failures + 1))
fi

# SIGTERM, and SIGHUP (the terminal closed), while the Prüfe waits for the slow page: stopped as
# "Abbrechen" stops it, with the reports written for the pages checked.
for signal in TERM HUP; do
  : >"$work/err" # the last run's lines must not count for this one
  "${program_env[@]}" DBUS_SESSION_BUS_ADDRESS="$bus" "$work/quandrel-halmfang" pruefen müller.example \
    >"$work/out" 2>"$work/err" &
  run_pid=$!
  for _ in $(seq 1 200); do grep -q 'checke: http://anders.example' "$work/err" && break; sleep 0.05; done
  kill -"$signal" "$run_pid"
  set +e
  wait "$run_pid"
  status=$?
  set -e
  run_pid=""
  if ((status == 143)) && grep -q 'Abgebrochen' "$work/err" && grep -q 'Gegenprüfung abgebrochen' "$work/err" &&
     grep -q 'Report gespeichert' "$work/err"; then
    echo "ok   SIG$signal"
  else
    echo "FAIL SIG$signal: exit status $status"; cat "$work/err"; failures=$((failures + 1))
  fi
done

((failures == 0)) || { echo "$failures failed"; exit 1; }
echo "all passed"
