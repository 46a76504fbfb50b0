#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing.
set -euo pipefail
packages=(qt6-base-dev qt6-svg-dev libcurl4-openssl-dev libidn2-dev libgumbo-dev libseccomp-dev libsqlite3-dev
          libzip-dev libxml2-dev libpsl-dev
          cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev
          xvfb xdotool fonts-dejavu-core openssl ca-certificates
          dpkg-dev file lintian desktop-file-utils appstream python3 dbus-daemon
          chromium-headless-shell)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
