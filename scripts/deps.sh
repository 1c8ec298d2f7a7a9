#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any is missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev
  qt6-base-dev qt6-qpa-plugins qt6-translations-l10n fonts-dejavu-core fonts-dejavu-extra
  python3 python3-xlrd python3-olefile libreoffice-calc-nogui gnumeric
  default-jdk-headless libapache-poi-java
  clang libclang-rt-14-dev
  dpkg-dev file desktop-file-utils lintian
  g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 xvfb nsis zip imagemagick
)
if [ "${1:-}" = "--demo" ]; then
  packages=(g++ cmake ninja-build python3 googletest libgtest-dev libgmock-dev qt6-base-dev fonts-dejavu-core fonts-dejavu-extra)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
