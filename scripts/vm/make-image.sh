#!/usr/bin/env bash
# Makes the emulated machine's image, once per recipe, in $LUMO_VM_CACHE
# (default /var/cache/lumo-vm): Debian 12 from Debian's packages, with
# Debian's kernel, which runs 32-bit programs, and Wine with both halves.
# A machine whose own kernel runs no 32-bit program runs the i686 installer
# there (scripts/vm/run.sh). Prints the image's folder; does nothing but that
# when the image is there already.
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

work=$(mktemp -d "$vm_cache/.making-XXXXXX")
trap 'rm -rf "$work"' EXIT
started=$SECONDS
say() { echo "[vm image, $((SECONDS - started)) s] $*" >&2; }

# Wine's recommends that draw windows, for both halves; no graphics drivers.
x_libraries=(libxrender1 libxrandr2 libxi6 libxcursor1 libxfixes3 libxinerama1 libxcomposite1)
packages=(linux-image-amd64 initramfs-tools kmod iproute2 procps psmisc time
          wine wine64 wine32:i386 fonts-wine xvfb xdotool x11-utils libstdc++6
          "${x_libraries[@]}" "${x_libraries[@]/%/:i386}")
say "debootstrapping ${#packages[@]} packages and their dependencies"
mmdebstrap --quiet --mode=root --variant=apt --architectures=amd64,i386 \
  --include="$(IFS=,; echo "${packages[*]}")" \
  --customize-hook='install -m 0755 '"$vm_dir/guest-init"' "$1/usr/local/sbin/lumo-vm-init"' \
  --customize-hook='cp '"$vm_dir/bake-prefix.sh"' "$1/usr/local/sbin/lumo-bake-prefix.sh"' \
  --customize-hook='echo lumo-vm >"$1/etc/hostname"' \
  --customize-hook='rm -rf "$1"/var/cache/apt/archives/*.deb "$1"/var/lib/apt/lists/*_Packages' \
  bookworm "$work/root" \
  "deb http://deb.debian.org/debian bookworm main" \
  "deb http://deb.debian.org/debian bookworm-updates main" \
  "deb http://deb.debian.org/debian-security bookworm-security main" >&2

kernel=$(ls "$work"/root/boot/vmlinuz-* | sort -V | tail -1)
initrd=$(ls "$work"/root/boot/initrd.img-* | sort -V | tail -1)
cp "$kernel" "$work/vmlinuz"
cp "$initrd" "$work/initrd.img"
say "making the root file system"
# Sparse: the file takes only what the tree holds; the room is for the
# tests' and the benches' files, written to a throw-away overlay.
mke2fs -q -t ext4 -L lumo-root -d "$work/root" "$work/root.raw" 24G
rm -rf "$work/root"

say "booting it once to bake the Wine prefix"
LUMO_VM_IMAGE=$work "$vm_dir/run.sh" --keep-disk --timeout 1800 -- bash -c 'bash /usr/local/sbin/lumo-bake-prefix.sh' >&2

touch "$work/ready"
mv "$work" "$vm_image"
trap - EXIT
say "ready: $vm_image"
echo "$vm_image"
