#!/usr/bin/env bash
# Installs the Debian packages Tidewell needs, quietly, and only those missing.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-webengine-dev qt6-webchannel-dev qt6-httpserver-dev qt6-websockets-dev
  libxml2-dev libxslt1-dev libxml2-utils
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth python3 python3-aiosmtpd fonts-dejavu-core clang-format openssl
  clang libclang-rt-14-dev libfuzzer-14-dev lld
  desktop-file-utils appstream dpkg-dev binutils)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq >/dev/null
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
