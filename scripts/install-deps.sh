#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and running Quorvel need.
# Quiet and quick when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-qpa-plugins libqt6svg6
  qcoro-qt6-dev
  libcurl4-openssl-dev libxcb1-dev
  libavahi-client-dev libsystemd-dev
  avahi-daemon avahi-utils
  libbenchmark-dev
  dbus dbus-bin procps curl clang-format
  clang-14 libclang-rt-14-dev
  desktop-file-utils
  xvfb xfwm4 xfce4-panel xdotool sway waybar wtype qt6-wayland python3-dbus   # tests/ui/tray_hosts.py: real trays
  pipewire-bin   # tests of the PipeWire option: a real daemon and pw-metadata
  appstream dpkg-dev file   # packaging/check-package.sh: appstreamcli; dpkg-shlibdeps and file for cpack
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
