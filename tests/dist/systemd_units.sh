#!/usr/bin/env bash
# The systemd user units as `cmake --install` lays them out: systemd-analyze accepts them, the
# service runs the watch list's due entries, and nothing is enabled by the installation.
# Skips (status 77) where systemd-analyze is missing.
#
# Usage: systemd_units.sh <build-dir>
set -euo pipefail
build=$1
if ! command -v systemd-analyze >/dev/null; then
  echo "SKIP: systemd-analyze is missing, the units are not checked"
  exit 77
fi
stage=$(mktemp -d /tmp/qh-units-XXXXXX)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" --component systemd_units >/dev/null
units=$(find "$stage" -path '*/systemd/user' -type d)
[[ -n $units ]] || { echo "FAIL: no systemd/user folder installed"; exit 1; }
# The manual page and the program are installed by the rest of the installation, not staged
# here: the manual page is not looked for, and the service is checked with the built program.
systemd-analyze verify --man=no "$units/quandrel-halmfang-monitor.timer"
mkdir "$stage/check"
sed "s|^ExecStart=[^ ]*|ExecStart=$build/app/quandrel-halmfang|" "$units/quandrel-halmfang-monitor.service" \
  >"$stage/check/quandrel-halmfang-monitor.service"
systemd-analyze verify --man=no "$stage/check/quandrel-halmfang-monitor.service"
grep -Eq '^ExecStart=/.*/quandrel-halmfang ueberwachen --faellige$' "$units/quandrel-halmfang-monitor.service" ||
  { echo "FAIL: the service does not run 'ueberwachen --faellige'"; exit 1; }
grep -q '^Persistent=true$' "$units/quandrel-halmfang-monitor.timer" || { echo "FAIL: the timer is not persistent"; exit 1; }
if find "$stage" -name '*.wants' | grep -q .; then
  echo "FAIL: the installation enables a unit"
  exit 1
fi
echo "units verified"
