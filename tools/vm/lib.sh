# Shared helpers of the test-VM scripts; sourced, not run.
# shellcheck shell=bash

VM_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# The cache lives outside the repository so that fresh clones on the same machine reuse it.
VM_CACHE=${VQ_VM_CACHE:-${XDG_CACHE_HOME:-${HOME:-/nonexistent}/.cache}/vq320-vm}
if ! mkdir -p "$VM_CACHE" 2>/dev/null || [ ! -w "$VM_CACHE" ]; then
    VM_CACHE=${TMPDIR:-/tmp}/vq320-vm-$(id -u)
    mkdir -p "$VM_CACHE"
fi

vm_log() { echo "vm: $*" >&2; }
vm_die() {
    echo "vm: error: $*" >&2
    exit 1
}

# Runs a command as root: directly when root, else through passwordless sudo.
vm_as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
        sudo -n "$@"
    else
        return 1
    fi
}

# Serialises cache writers (several build trees may start the VM at once).
vm_lock_cache() {
    exec 9>"$VM_CACHE/.lock"
    flock 9
}

# The ordered module names of modules.list, without comments.
vm_module_names() {
    sed -e 's/#.*//' -e 's/[[:space:]]//g' -e '/^$/d' "$VM_DIR/modules.list"
}
