#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; does nothing when
# all of them are present already.
set -euo pipefail

packages=(
  cmake g++ make pkg-config ccache
  libace-dev libxerces-c-dev libsqlite3-dev libsystemd-dev libcli11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  iperf3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
