#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# Sourced by run.sh and test.sh; nothing is downloaded any other way.
set -euo pipefail

ZARVIK_PACKAGES=(
  cmake ninja-build g++ pkg-config lld
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  qt6-base-dev libgl-dev
  clang libclang-rt-14-dev
  python3 python3-dbfread gdal-bin
  xvfb xauth
  fontconfig fonts-dejavu-core
  libgensio-dev ser2net libssl-dev openssl
  libxlsxwriter-dev qt6-charts-dev libqt6opengl6-dev python3-openpyxl
  libzip-dev libexpat1-dev python3-odf
  debhelper dpkg-dev fakeroot lintian desktop-file-utils appstream
  librsvg2-bin
  ansible-core pandoc
)

zarvik_missing_packages() {
  local p missing=()
  for p in "${ZARVIK_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  echo "${missing[@]:-}"
}

zarvik_ensure_deps() {
  local missing
  missing=$(zarvik_missing_packages)
  [ -z "$missing" ] && return 0
  echo "Installing missing packages: $missing"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then sudo="sudo"; else
      echo "These Debian packages are needed and you are not root: $missing" >&2
      return 1
    fi
  fi
  # shellcheck disable=SC2086
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  # shellcheck disable=SC2086
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
}
