#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the updater need.
# Idempotent and quiet when everything is present; works as root or through sudo.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
    libasound2-dev libgtest-dev libgmock-dev libbenchmark-dev
    dfu-util zlib1g-dev
    # The fuzz preset: clang and its libFuzzer and sanitizer runtimes.
    clang libclang-rt-14-dev
    # The test machine with a real sound kernel (tools/vm).
    qemu-system-x86 busybox-static cpio alsa-utils
)

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
