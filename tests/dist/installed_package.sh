#!/usr/bin/env bash
# Builds the Debian package from a build tree, checks it with lintian and the desktop validators,
# installs it for real, starts the installed program under Xvfb as an unprivileged user with a
# fresh home, presses "Speichern" and ends it with Datei > Beenden; then removes the package.
# Checks: config.txt in the user's data folder (0600, folder 0700), nothing under /usr changed
# while the program ran, --version (and that the link check's sandboxed worker starts), and no file
# of the package left after removal.
# Needs root and dpkg; skips (status 77) without them or when the package is installed already.
#
# Usage: installed_package.sh <build-dir> <source-dir>
set -euo pipefail
# shellcheck source=tests/app/realwindow_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../app/realwindow_lib.sh"

(($# == 2)) || { echo "usage: $0 <build-dir> <source-dir>"; exit 2; }
build=$(cd "$1" && pwd) src=$(cd "$2" && pwd)
readonly package=quandrel-halmfang app_id=org.quandrel.Halmfang

skip() { echo "SKIP: $*"; exit 77; }
[[ $(id -u) -eq 0 ]] || skip "installing a package needs root"
for tool in dpkg dpkg-deb cpack setpriv; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
  skip "$package is installed on this machine already; it is left alone"
fi

for tool in lintian desktop-file-validate appstreamcli; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/deps.sh installs it)"; exit 1; }
done

scratch=$(mktemp -d /tmp/qh-package-XXXXXX)
chmod 711 "$scratch" # the unprivileged user reaches its home and runtime folders inside
home=$scratch/home runtime=$scratch/runtime
pid="" installed=""
cleanup() {
  if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null || true; fi
  [[ -n $installed ]] && dpkg --purge "$package" >/dev/null 2>&1 || true
  rm -rf "$scratch"
  stop_xvfb
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP
# -ac: the unprivileged user may draw on this private server too.
start_xvfb -ac -screen 0 1024x768x24 || exit 1
fail() { echo "FAIL: $*"; [[ -f $scratch/program.log ]] && cat "$scratch/program.log"; exit 1; }

# --- the desktop files and the package
desktop-file-validate "$src/dist/linux/$app_id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$src/dist/linux/$app_id.metainfo.xml" >"$scratch/appstream.log" 2>&1 ||
  { cat "$scratch/appstream.log"; fail "appstreamcli validate"; }
cpack -G DEB -B "$scratch/pkg" --config "$build/CPackConfig.cmake" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$(compgen -G "$scratch/pkg/${package}_*_amd64.deb" | head -n 1 || true)
[[ -n $deb ]] || fail "cpack made no ${package}_<version>_amd64.deb: $(ls "$scratch/pkg")"
echo "package: ${deb##*/}, $(stat -c %s "$deb") bytes"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"
lintian --fail-on error "$deb" 2>/dev/null || fail "lintian reports errors"

# --- install
dpkg -i "$deb" >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; installed=1; fail "dpkg -i"; }
installed=1
mapfile -t package_files < <(dpkg -L "$package" | while read -r f; do [[ -f $f ]] && echo "$f"; done)
program=$(command -v "$package" || true)
[[ $program == /usr/bin/$package ]] || fail "the installed program is not /usr/bin/$package ($program)"

mkdir -p "$home" "$runtime"
chown nobody:nogroup "$home" "$runtime"
chmod 700 "$home" "$runtime"
as_user() {
  setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env -i PATH=/usr/bin:/bin HOME="$home" DISPLAY="$DISPLAY" XDG_RUNTIME_DIR="$runtime" LANG=C.UTF-8 \
    QT_QPA_PLATFORM=xcb "$@"
}

touch "$scratch/marker"
sleep 1 # a later change gets a later time stamp than the marker
version=$(as_user "$package" --version) || fail "--version failed"
[[ ${version%%$'\n'*} == "Quandrel Halmfang 0.1b" ]] || fail "--version printed '$version'"
# The second line comes from a worker of the installed program, started as the link check starts it.
sandbox=${version#*$'\n'}
case $sandbox in
  "Sandbox: aktiv"*) ;;
  "Sandbox: eingeschränkt"*) echo "note: this kernel refuses seccomp; the worker runs with resource limits only" ;;
  *) fail "the installed link-check worker does not start: '$sandbox'" ;;
esac

# --- the real window: open "Einstellungen", press "Speichern", Datei > Beenden
as_user "$package" >"$scratch/program.log" 2>&1 &
pid=$!
wait_for_window "$scratch/program.log" || fail "see above"
sleep 0.5
measure_window || fail "see above"
# The "Einstellungen" header stands below the 200-pixel "Checks" panel; "Speichern" at 96, 108 of
# its content, below the 24-pixel header.
settings_top=$((menu + 1 + 200))
xdotool mousemove --window "$window" 100 $((settings_top + 12)) click 1
sleep 0.5
config=$home/.local/share/$package/config.txt
for attempt in 1 2 3; do
  xdotool mousemove --window "$window" $((1 + 96 + 37)) $((settings_top + 24 + 108 + 12)) click 1
  for _ in $(seq 1 30); do
    [[ -f $config ]] && break 2
    sleep 0.1
  done
  echo "attempt $attempt: no config.txt yet"
done
[[ -f $config ]] || fail "Speichern wrote no $config"
status=""
quit_by_menu
[[ -n $status ]] || fail "Datei > Beenden did not end the program"
[[ $status -eq 0 ]] || fail "exit status $status"

[[ $(stat -c %a "$config") == 600 ]] || fail "config.txt has mode $(stat -c %a "$config")"
[[ $(stat -c %a "$(dirname "$config")") == 700 ]] || fail "the data folder has mode $(stat -c %a "$(dirname "$config")")"
[[ $(stat -c %U "$config") == nobody ]] || fail "config.txt belongs to $(stat -c %U "$config")"
printf 'XOVI-API-Keys\r\nSEO-KICKS-Code\r\n' | cmp -s - "$config" || fail "config.txt holds $(od -c "$config" | head -n 3)"
changed=$(find /usr -newer "$scratch/marker" 2>/dev/null | head -n 5)
[[ -z $changed ]] || fail "the program changed files under /usr: $changed"

# --- remove
dpkg -r "$package" >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; fail "dpkg -r"; }
dpkg --purge "$package" >/dev/null 2>&1 || true
installed=""
for f in "${package_files[@]}"; do
  [[ ! -e $f ]] || fail "left behind after removal: $f"
done
echo "PASS: installed ${#package_files[@]} files, saved to the user's data folder, removed cleanly"
