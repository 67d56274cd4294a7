#!/bin/sh
# Installs the Debian packages the build, the tests and the window need,
# only those that are missing. Uses sudo when not run as root.
set -eu

packages="cmake make g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
libsndfile1-dev libfftw3-dev qt6-multimedia-dev libqt6sql6-sqlite libqt6sql6-psql libsqlite3-dev postgresql
libqcustomplot-dev libqcustomplot2.1-qt6 fonts-liberation xvfb xauth xdotool
imagemagick desktop-file-utils $*"

missing=""
for p in $packages; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    case "$status" in
        *" installed") ;;
        *) missing="$missing $p" ;;
    esac
done

if [ -z "$missing" ]; then
    exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
    SUDO=""
else
    SUDO="sudo"
fi

echo "Installing missing Debian packages:$missing"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
echo "Installed:$missing"
