#!/usr/bin/env bash
# Installs what is missing, builds a Release build and makes the Debian package from it:
# build-release/quandrel-halmfang_<version>_amd64.deb. Install it with
#   apt install ./build-release/quandrel-halmfang_<version>_amd64.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DQH_BUILD_TESTS=OFF -DQH_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-release" -j "$(nproc)"
(cd "$root/build-release" && cpack -G DEB)
ls "$root"/build-release/quandrel-halmfang_*_amd64.deb
