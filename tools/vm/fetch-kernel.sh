#!/usr/bin/env bash
# Fetches today's stock Debian kernel (vmlinuz and the modules of modules.list) into the cache
# and prints the cache directory. Reuses the cache when the kernel version has not changed;
# falls back to the newest cached kernel when the package mirror cannot be reached.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# The versioned kernel package that linux-image-amd64 depends on today, e.g.
# linux-image-6.1.0-57-amd64 (its name changes with every kernel update).
resolve_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -n 1
}

# Newest complete kernel already in the cache, if any.
newest_cached() {
    local k newest=''
    for k in "$VM_CACHE"/kernel/*/complete; do
        [ -f "$k" ] || continue
        if [ -z "$newest" ] || [ "$k" -nt "$newest" ]; then newest=$k; fi
    done
    [ -n "$newest" ] && dirname "$newest"
}

fallback_or_die() {
    local cached
    if cached=$(newest_cached); then
        vm_log "warning: $1; using the cached kernel $(basename "$cached")"
        echo "$cached"
        exit 0
    fi
    vm_die "$1, and no kernel is cached in $VM_CACHE/kernel"
}

# apt-cache takes a second or two; its answer only changes when the package lists do.
lists_key() {
    stat -c '%n %Y %s' /var/lib/apt/lists/*Packages* 2>/dev/null | sha256sum | cut -c1-16
}

vm_lock_cache

memo="$VM_CACHE/resolved-$(lists_key)"
if [ -f "$memo" ]; then
    read -r pkg version <"$memo"
else
    pkg=$(resolve_package)
    if [ -z "$pkg" ]; then
        vm_log "apt-cache knows no linux-image-amd64; running apt-get update"
        vm_as_root apt-get update -qq >&2 || true
        pkg=$(resolve_package)
    fi
    [ -n "$pkg" ] || fallback_or_die "cannot resolve the kernel package of linux-image-amd64"
    version=$(apt-cache show --no-all-versions "$pkg-unsigned" 2>/dev/null |
        sed -n 's/^Version: //p' | head -n 1)
    [ -n "$version" ] || fallback_or_die "apt-cache does not know $pkg-unsigned"
    rm -f "$VM_CACHE"/resolved-*
    echo "$pkg $version" >"$memo"
fi
unsigned="$pkg-unsigned"
# The module list is part of the key: a kernel cached with fewer modules is fetched again.
modules_key=$(vm_module_names | sha256sum | cut -c1-8)
key="${pkg#linux-image-}_${version}_$modules_key"
dest="$VM_CACHE/kernel/$key"
if [ -f "$dest/complete" ]; then
    echo "$dest"
    exit 0
fi

work=$(mktemp -d "$VM_CACHE/.fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/deb" "$work/x"
# apt downloads as the _apt user when run as root: give it a directory it can write to.
if [ "$(id -u)" -eq 0 ] && id _apt >/dev/null 2>&1; then
    chown _apt "$work/deb"
fi
chmod 755 "$work" "$work/deb"

download() { (cd "$work/deb" && apt-get download -q "$unsigned=$version") >&2; }
vm_log "downloading $unsigned $version (about 70 MB, once per kernel version)"
if ! download; then
    # The mirror drops superseded kernels: refresh the package lists and start again, once.
    [ -z "${VQ_VM_FETCH_RETRY:-}" ] || fallback_or_die "cannot download $unsigned"
    vm_log "download failed; running apt-get update and retrying"
    vm_as_root apt-get update -qq >&2 || fallback_or_die "cannot download $unsigned"
    rm -rf "$work"
    exec 9>&-
    VQ_VM_FETCH_RETRY=1 exec "$0" "$@"
fi
deb=$(ls "$work"/deb/*.deb)

patterns=('./boot/vmlinuz-*' '*/modules.builtin')
while read -r m; do
    patterns+=("*/$m.ko" "*/$m.ko.xz")
done < <(vm_module_names)
dpkg-deb --fsys-tarfile "$deb" | tar -x --wildcards -C "$work/x" -f - "${patterns[@]}" 2>/dev/null ||
    true # tar reports the .ko/.ko.xz pattern that did not match; each module is checked below

mkdir "$work/out" "$work/out/modules"
mv "$work"/x/boot/vmlinuz-* "$work/out/vmlinuz" || vm_die "$deb holds no vmlinuz"
builtin=$(find "$work/x" -name modules.builtin | head -n 1)

# Copy each module in load order, decompressed, and check that its dependencies load before it.
norm() { tr '-' '_'; }
modinfo=$(PATH=$PATH:/usr/sbin:/sbin command -v modinfo || true) # kmod; the check is skipped without it
loaded=" "
: >"$work/out/modules.order"
while read -r m; do
    f=$(find "$work/x" -name "$m.ko" -o -name "$m.ko.xz" | head -n 1)
    if [ -z "$f" ]; then
        if [ -n "$builtin" ] && grep -q "/$m\.ko$" "$builtin"; then
            loaded+="$(echo "$m" | norm) "
            continue
        fi
        vm_die "module $m is neither in $unsigned nor built in"
    fi
    case "$f" in
    *.xz) xz -dc "$f" >"$work/out/modules/$m.ko" ;;
    *) cp "$f" "$work/out/modules/$m.ko" ;;
    esac
    for d in ${modinfo:+$("$modinfo" -F depends "$work/out/modules/$m.ko" | tr ',' ' ' | norm)}; do
        case "$loaded" in
        *" $d "*) ;;
        *) vm_die "module $m needs $d, which modules.list does not load before it" ;;
        esac
    done
    loaded+="$(echo "$m" | norm) "
    echo "$m" >>"$work/out/modules.order"
done < <(vm_module_names)

# Booting the uncompressed kernel through its PVH entry saves its decompression, a few
# seconds under emulation. Kept only when it has that entry; vmlinuz always works.
LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$work/out/vmlinuz" | cut -d: -f1 | while read -r offset; do
    tail -c +$((offset + 1)) "$work/out/vmlinuz" | xz -dc 2>/dev/null >"$work/vmlinux" || true
    # XEN_ELFNOTE_PHYS32_ENTRY, type 0x12, marks the PVH entry.
    if readelf -n "$work/vmlinux" 2>/dev/null | grep -Eq 'type: \(0x00000012\)|PHYS32_ENTRY'; then
        mv "$work/vmlinux" "$work/out/vmlinux"
        break
    fi
done
rm -f "$work/vmlinux"

echo "$pkg $version" >"$work/out/complete"
mkdir -p "$VM_CACHE/kernel"
rm -rf "$dest"
mv -T "$work/out" "$dest"
# Older kernels are no longer needed; the same kernel with another module list may still be
# in use by another build tree.
find "$VM_CACHE/kernel" -mindepth 1 -maxdepth 1 ! -name "${pkg#linux-image-}_${version}*" \
    -exec rm -rf {} +
vm_log "kernel cached in $dest"
echo "$dest"
