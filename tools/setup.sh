#!/usr/bin/env bash
# Installs the Debian packages the updater needs.
#   tools/setup.sh          building, running and packaging the updater
#   tools/setup.sh --test   that, and what the tests need (the test VM, validators, Xvfb)
# Idempotent and quiet when everything is present; works as root or through sudo.
set -euo pipefail

# One package per line.
run_packages=(
    cmake
    ninja-build
    g++
    pkg-config
    qt6-base-dev
    qt6-tools-dev
    qt6-tools-dev-tools
    qt6-l10n-tools
    qt6-translations-l10n
    libasound2-dev
    dfu-util
    dpkg-dev
    # CRC-32 of firmware files (DFU suffix).
    zlib1g-dev
    # The USB device watch: udev's monitor, whose events come once the access rules are applied.
    libudev-dev
)
test_packages=(
    libgtest-dev
    libgmock-dev
    libbenchmark-dev
    # The kernel SysEx benchmark's comparison client.
    librtmidi-dev
    # The test VM with a real sound kernel (tools/vm).
    qemu-system-x86
    busybox-static
    cpio
    alsa-utils
    # Validators of the desktop entry and the AppStream metainfo.
    desktop-file-utils
    appstream
    # Debian's package checker: the .deb must pass it without errors or warnings.
    lintian
    # Screenshots under a virtual display (tools/take-screenshots.sh).
    xvfb
    xauth
    openbox
    # The accessibility test: the AT-SPI bus (at-spi-bus-launcher, the registry) and the Python
    # client that listens to it as a screen reader does.
    at-spi2-core
    python3-pyatspi
    dbus-daemon # dbus-run-session: the accessibility test's own session bus
    # The fuzz preset: clang and its libFuzzer and sanitizer runtimes.
    clang
    libclang-rt-14-dev
)

packages=("${run_packages[@]}")
case "${1:-}" in
'') ;;
--test) packages+=("${test_packages[@]}") ;;
*)
    echo "usage: tools/setup.sh [--test]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "setup: these packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
    exit 1
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
