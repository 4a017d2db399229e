# Shared by the emulated machine's scripts: where its image is cached and
# what names it. Sourced, not run.

vm_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# Outside any clone, so that every clone and every run on this machine
# shares one image; a second run starts at once.
vm_cache=${LUMO_VM_CACHE:-/var/cache/lumo-vm}
# The image is named by what makes it: a change to the recipe, to what the
# guest runs first at boot or to the baked prefix makes a new one. The system
# alone (the base, the longest step) is kept apart, so that a new prefix
# starts from it.
vm_base=$vm_cache/base-$(cat "$vm_dir/make-image.sh" "$vm_dir/guest-boot" | sha256sum | cut -c1-16)
vm_image=$vm_cache/image-$(cat "$vm_dir/make-image.sh" "$vm_dir/guest-boot" "$vm_dir/bake-prefix.sh" |
                           sha256sum | cut -c1-16)
# Where the guest keeps the baked Wine prefix that tests start from.
vm_prefix_template=/var/lib/lumo-wine/prefix
