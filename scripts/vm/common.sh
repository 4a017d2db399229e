# Shared by the emulated machine's scripts: where its image is cached and
# what names it. Sourced, not run.

vm_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# Outside any clone, so that every clone and every run on this machine
# shares one image; a second run starts at once.
vm_cache=${LUMO_VM_CACHE:-/var/cache/lumo-vm}
# The image is named by what makes it: a change to the recipe or to what runs
# in the guest at boot makes a new one.
vm_key=$(cat "$vm_dir/make-image.sh" "$vm_dir/guest-init" "$vm_dir/bake-prefix.sh" | sha256sum | cut -c1-16)
vm_image=$vm_cache/$vm_key
# Where the guest keeps the baked Wine prefix that tests start from.
vm_prefix_template=/var/lib/lumo-wine/prefix
