#!/usr/bin/env bash
# Makes docs/screenshot.png: the real window after "Check" and "Prüfe", under Xvfb, against the
# loopback proxy of the tests (no traffic leaves the machine).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$(nproc)" --target quandrel-halmfang loopback_proxy window_shot
pictures=$(mktemp -d)
trap 'rm -rf "$pictures"' EXIT
"$root/tests/app/realwindow_crosscheck.sh" "$root/build/app/quandrel-halmfang" "$root/build/tests/app/loopback_proxy" \
  "$root/build/tests/app/window_shot" "$root/tests/data/e2e" "$pictures"
mkdir -p "$root/docs"
cp "$pictures/crosscheck.png" "$root/docs/screenshot.png"
echo "docs/screenshot.png"
