#!/usr/bin/env bash
# Installs everything Oriel's build, tests, fuzzers and benchmarks need.
# Idempotent: packages already present are left as they are.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build pkgconf git
  qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-qpa-plugins
  zlib1g-dev libbrotli-dev libhivex-dev libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  fonts-dejavu-core shared-mime-info
  pasco libmsiecf-utils
  xvfb xauth
  dpkg-dev fakeroot file gzip lintian desktop-file-utils appstream man-db
  bash-completion hicolor-icon-theme
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
