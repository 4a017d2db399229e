#!/usr/bin/env bash
# Runs a command in the emulated machine (Debian 12, a kernel that runs
# 32-bit programs, Wine with both halves) and returns its output and exit
# status:
#   scripts/vm/run.sh [--timeout S] [--memory MiB] [--cpus N] [--share DIR]
#                     [--keep-disk] -- COMMAND [ARGUMENT...]
# DIR (default: this clone) is shared with the guest at the same path, read
# and written in place; the command starts in the caller's folder when that
# lies inside DIR. The guest's disk is a throw-away overlay of the cached
# image (scripts/vm/make-image.sh, which this runs first), so nothing a run
# does stays, but in DIR. Exit status 124: the command did not end within
# S seconds (default 3600); 125: the machine did not run it.
set -euo pipefail
. "$(dirname "$0")/common.sh"

timeout=3600 memory=4096 cpus=$(nproc) share=$(cd "$vm_dir/../.." && pwd) keep_disk=0
while [ $# -gt 0 ]; do
  case $1 in
    --timeout) timeout=$2; shift 2 ;;
    --memory) memory=$2; shift 2 ;;
    --cpus) cpus=$2; shift 2 ;;
    --share) share=$(cd "$2" && pwd); shift 2 ;;
    --keep-disk) keep_disk=1; shift ;;  # writes to the image itself (baking it)
    --) shift; break ;;
    *) echo "usage: $0 [--timeout S] [--memory MiB] [--cpus N] [--share DIR] -- COMMAND..." >&2; exit 2 ;;
  esac
done
[ $# -gt 0 ] || { echo "$0: no command" >&2; exit 2; }

image=${LUMO_VM_IMAGE:-}
[ -n "$image" ] || image=$("$vm_dir/make-image.sh")

io=$(mktemp -d /tmp/lumo-vm-run-XXXXXX)
qemu_pid=
cleanup() {
  [ -z "$qemu_pid" ] || kill -9 "$qemu_pid" 2>/dev/null || true
  rm -rf "$io"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

cp "$vm_dir/guest-init" "$io/init"
{
  case $PWD/ in "$share"/*) printf 'cd %q\n' "$PWD" ;; esac
  printf 'exec'
  printf ' %q' "$@"
  printf '\n'
} >"$io/job.sh"

if [ $keep_disk = 1 ]; then
  disk=(-drive "file=$image/root.raw,if=virtio,format=raw,cache=unsafe")
else
  qemu-img create -q -f qcow2 -F raw -b "$image/root.raw" "$io/overlay.qcow2"
  disk=(-drive "file=$io/overlay.qcow2,if=virtio,format=qcow2,cache=unsafe")
fi

# TCG, all host threads: no KVM here. SMAP off: QEMU 7.2 mishandles an
# instruction 32-bit Wine uses constantly when it is on, and every 32-bit
# Wine program dies.
qemu-system-x86_64 -nodefaults -no-user-config -nographic -no-reboot \
  -accel tcg,thread=multi -cpu "${LUMO_VM_CPU:-max,smap=off}" -smp "$cpus" -m "$memory" \
  -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
  -append "root=/dev/vda rw console=ttyS0 quiet panic=-1 init=/usr/local/sbin/lumo-vm-boot lumo.share=$share" \
  "${disk[@]}" \
  -virtfs "local,path=$io,mount_tag=io,security_model=none,id=io" \
  -virtfs "local,path=$share,mount_tag=share,security_model=none,id=share" \
  -nic none -serial "file:$io/console.log" -monitor none \
  </dev/null >"$io/qemu.log" 2>&1 &
qemu_pid=$!

ended=0
for ((waited = 0; waited < timeout; waited++)); do
  if ! kill -0 "$qemu_pid" 2>/dev/null; then ended=1; break; fi
  sleep 1
done
wait "$qemu_pid" 2>/dev/null || true
qemu_pid=

cat "$io/stdout" 2>/dev/null || true
cat "$io/stderr" >&2 2>/dev/null || true
if [ -f "$io/status" ]; then
  exit "$(cat "$io/status")"
fi
if [ $ended = 0 ]; then
  echo "$0: the command did not end within $timeout s" >&2
  exit 124
fi
echo "$0: the emulated machine did not run the command; its console and QEMU said:" >&2
tail -n 30 "$io/console.log" "$io/qemu.log" >&2 2>/dev/null || true
exit 125
