#!/usr/bin/env bash
# Builds the test VM's initramfs (busybox, /init and the kernel modules) for the kernel cached
# in KERNEL_DIR and prints its path. Rebuilt only when one of its inputs changes.
# Usage: build-initramfs.sh KERNEL_DIR
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

kernel=${1:?usage: build-initramfs.sh KERNEL_DIR}
busybox=$(command -v busybox) || vm_die "busybox is missing (run tools/setup.sh)"
if ldd "$busybox" >/dev/null 2>&1; then
    vm_die "$busybox is not statically linked (install busybox-static)"
fi

key=$(cat "$VM_DIR/init" "$busybox" "$kernel/modules.order" "$kernel/complete" | sha256sum | cut -c1-16)
out="$VM_CACHE/initrd/initrd-$key.cpio.gz"
if [ -f "$out" ]; then
    echo "$out"
    exit 0
fi

vm_lock_cache
if [ -f "$out" ]; then
    echo "$out"
    exit 0
fi
work=$(mktemp -d "$VM_CACHE/.initrd.XXXXXX")
trap 'rm -rf "$work"' EXIT
root="$work/root"
mkdir -p "$root"/{bin,dev,proc,sys,lib/modules}
cp "$busybox" "$root/bin/busybox"
install -m 755 "$VM_DIR/init" "$root/init"
cp "$kernel"/modules/*.ko "$kernel/modules.order" "$root/lib/modules/"
(cd "$root" && find . -print0 | LC_ALL=C sort -z | cpio --null -o -H newc --quiet | gzip -6) >"$work/initrd"
mkdir -p "$VM_CACHE/initrd"
mv "$work/initrd" "$out"
echo "$out"
