#!/usr/bin/env bash
# Installs everything the board needs to build, test and run on Debian 12.
# Quick when all is already there: apt is only asked when a package is missing.
set -euo pipefail

packages=(
    cmake g++ ninja-build pkg-config
    qt6-base-dev qt6-declarative-dev qt6-declarative-dev-tools qt6-5compat-dev qt6-svg-dev
    qt6-websockets-dev qt6-httpserver-dev libqt6sql6-sqlite libqt6svg6
    qml6-module-qtqml qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
    qml6-module-qtquick-window qml6-module-qtquick-templates qml6-module-qtqml-workerscript
    qml6-module-qt5compat-graphicaleffects qml6-module-qttest qml6-module-qtquick-virtualkeyboard
    libmosquitto-dev mosquitto libgl-dev libxkbcommon-dev xvfb xauth xdotool openssl
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
