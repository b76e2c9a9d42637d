#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those missing.
set -euo pipefail
packages=(
  build-essential cmake make pkg-config ccache clang-format
  libcurl4-openssl-dev nlohmann-json3-dev libssl-dev zlib1g-dev libre2-dev
  libpng-dev libjpeg-dev libgif-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  libgtk-4-dev libwebkitgtk-6.0-dev libx11-dev libxtst-dev xvfb xauth
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good fonts-dejavu-core
  clang libclang-rt-14-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
