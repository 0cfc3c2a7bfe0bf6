#!/usr/bin/env bash
# Installs what is needed on a fresh Debian 12.
#
#   scripts/install-deps.sh          everything: build, run, test, benchmark and package
#   scripts/install-deps.sh --run    only what building and running the program needs
#
# Without recommends: keeps the install small and leaves out dbus-x11, whose
# autolaunched bus daemons would outlive the program.
set -euo pipefail
[ $# -eq 0 ] || [ "$*" = --run ] || { echo "usage: $0 [--run]" >&2; exit 2; }

# Building and running the program (its Wayland libraries and KDE's window-list protocol
# included), the font of its Japanese text, and xdg-open for the run dialog.
RUN=(
  g++ make cmake pkgconf
  qt6-base-dev libxcb-ewmh-dev libxcb-res0-dev libx11-dev libx11-xcb-dev
  qt6-wayland libwayland-dev plasma-wayland-protocols
  fonts-ipafont-gothic xdg-utils
)
# The tests, the benchmarks and the package besides: the private X desktops and Wayland sessions
# the tests run on, and the tools that drive and inspect them.
TEST=(
  libgtest-dev libgmock-dev libbenchmark-dev
  desktop-file-utils appstream dpkg-dev file
  xvfb openbox fluxbox xfwm4 trayer xdotool wmctrl x11-utils x11-apps xterm imagemagick dbus procps xrestop
  at-spi2-core python3-gi gir1.2-atspi-2.0
  xfce4-panel gir1.2-dbusmenu-glib-0.4
  sway xwayland foot grim kwin-wayland
  gnome-shell gnome-shell-extension-appindicator dconf-service dconf-gsettings-backend nodejs
)

packages=("${RUN[@]}")
[ "${1:-}" = --run ] || packages+=("${TEST[@]}")
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
