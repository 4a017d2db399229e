#!/usr/bin/env bash
# Makes the emulated machine's image, once per recipe, in $LUMO_VM_CACHE
# (default /var/cache/lumo-vm): Debian 12 from Debian's packages, with
# Debian's kernel, which runs 32-bit programs, and Wine with both halves,
# and a Wine prefix booted in it. A machine whose own kernel runs no 32-bit
# program runs the i686 installer there (scripts/vm/run.sh). Prints the
# image's folder; does nothing but that when the image is there already.
set -euo pipefail
. "$(dirname "$0")/common.sh"

if [ -f "$vm_image/ready" ]; then
  echo "$vm_image"
  exit 0
fi
mkdir -p "$vm_cache"
# One maker at a time; a second waits and then finds the image ready.
exec 9>"$vm_cache/.lock"
flock 9
if [ -f "$vm_image/ready" ]; then
  echo "$vm_image"
  exit 0
fi
started=$SECONDS
say() { echo "[vm image, $((SECONDS - started)) s] $*" >&2; }

make_base() {
  local work
  work=$(mktemp -d "$vm_cache/.base-XXXXXX")
  trap 'rm -rf "$work"' EXIT
  # Wine's recommends that draw windows, for both halves; no graphics drivers.
  local x_libraries=(libxrender1 libxrandr2 libxi6 libxcursor1 libxfixes3 libxinerama1 libxcomposite1)
  local packages=(linux-image-amd64 initramfs-tools kmod mount iproute2 procps psmisc time
                  wine wine64 wine32:i386 fonts-wine xvfb xdotool x11-utils libstdc++6
                  "${x_libraries[@]}" "${x_libraries[@]/%/:i386}")
  say "debootstrapping ${#packages[@]} packages and their dependencies"
  mmdebstrap --quiet --mode=root --variant=apt --architectures=amd64,i386 \
    --include="$(IFS=,; echo "${packages[*]}")" \
    --customize-hook='install -m 0755 '"$vm_dir/guest-boot"' "$1/usr/local/sbin/lumo-vm-boot"' \
    --customize-hook='echo lumo-vm >"$1/etc/hostname"' \
    --customize-hook='rm -rf "$1"/var/cache/apt/archives/*.deb "$1"/var/lib/apt/lists/*_Packages' \
    bookworm "$work/root" \
    "deb http://deb.debian.org/debian bookworm main" \
    "deb http://deb.debian.org/debian bookworm-updates main" \
    "deb http://deb.debian.org/debian-security bookworm-security main" >&2
  cp "$(ls "$work"/root/boot/vmlinuz-* | sort -V | tail -1)" "$work/vmlinuz"
  cp "$(ls "$work"/root/boot/initrd.img-* | sort -V | tail -1)" "$work/initrd.img"
  say "making the root file system"
  # Sparse: the file takes only what the tree holds; the room is for the
  # tests' and the benches' files, written to a throw-away overlay.
  mke2fs -q -t ext4 -L lumo-root -d "$work/root" "$work/root.raw" 24G
  rm -rf "$work/root"
  mv "$work" "$vm_base"
  trap - EXIT
}
[ -f "$vm_base/root.raw" ] || make_base

say "booting it once to bake the Wine prefix"
work=$(mktemp -d "$vm_cache/.image-XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$vm_base/vmlinuz" "$vm_base/initrd.img" "$work/"
cp --sparse=always "$vm_base/root.raw" "$work/root.raw"
cp "$vm_dir/bake-prefix.sh" "$work/bake-prefix.sh"
LUMO_VM_IMAGE=$work "$vm_dir/run.sh" --keep-disk --timeout 1800 --share "$work" -- \
  bash "$work/bake-prefix.sh" >&2
rm "$work/bake-prefix.sh"
touch "$work/ready"
mv "$work" "$vm_image"
trap - EXIT
# Images of earlier recipes go.
for old in "$vm_cache"/image-* "$vm_cache"/base-*; do
  [ "$old" = "$vm_image" ] || [ "$old" = "$vm_base" ] || rm -rf "$old"
done
say "ready: $vm_image"
echo "$vm_image"
