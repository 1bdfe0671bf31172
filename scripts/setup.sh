#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need; only what is missing,
# so a second run takes a moment.
set -euo pipefail

packages=(
    g++ make cmake pkg-config      # the build
    libgtest-dev libgmock-dev      # the tests
    libcpp-httplib-dev libsqlite3-dev libjsoncpp-dev   # the stand-in service
    openssl coreutils time         # peers and meters for the benchmarks
    rclone perl procps             # the upload benchmarks: a peer, test trees, pgrep
    nginx curl                     # the stand-in's upload benchmark peer
    libgtkmm-3.0-dev gettext       # the desktop client and its catalogue
    librsvg2-bin                   # renders the client's images
    fonts-wqy-microhei             # Chinese glyphs for the window in Chinese
    xvfb xauth dbus at-spi2-core   # a display and an accessibility bus for the window's tests
    python3-pyatspi gir1.2-gtk-3.0 xdotool   # driving the window as a user would
    desktop-file-utils appstream   # checking the desktop entry and the AppStream data
    clang libclang-rt-14-dev       # the parsers' fuzzing (scripts/fuzz.sh)
)

missing=()
for pkg in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
