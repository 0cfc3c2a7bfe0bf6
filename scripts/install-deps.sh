#!/usr/bin/env bash
# Installs everything needed to build, run and test on a fresh Debian 12.
# Without recommends: keeps the install small and leaves out dbus-x11, whose
# autolaunched bus daemons would outlive the program.
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  g++ make cmake pkgconf \
  qt6-base-dev libxcb-ewmh-dev libxcb-res0-dev libx11-dev \
  libgtest-dev libgmock-dev libbenchmark-dev \
  fonts-ipafont-gothic xdg-utils \
  desktop-file-utils appstream dpkg-dev file \
  xvfb openbox fluxbox xfwm4 trayer xdotool wmctrl x11-utils x11-apps xterm imagemagick dbus procps xrestop \
  at-spi2-core python3-gi gir1.2-atspi-2.0 \
  qt6-wayland sway xwayland foot grim libwayland-dev plasma-wayland-protocols kwin-wayland \
  gnome-shell gnome-shell-extension-appindicator dconf-service dconf-gsettings-backend nodejs \
  >/dev/null
