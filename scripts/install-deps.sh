#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing need; quiet
# when they are all there already.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config zlib1g-dev libicu-dev libgtest-dev libjpeg62-turbo-dev)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
run_as_root=()
[ "$(id -u)" -eq 0 ] || run_as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${run_as_root[@]}" apt-get update -qq
"${run_as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
