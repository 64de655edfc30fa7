#!/bin/bash
# Boots a small emulated x86_64 Linux VM (qemu TCG, no KVM needed) whose root
# file system is this machine's own, mounted read-only, and runs a guest
# script in it. 32-bit programs cannot run natively on these machines, but
# they run inside the VM, so 32-bit Windows programs are tested there under
# wine32.
#
# Usage: scripts/win32-vm-test.sh <vm-dir> <share-dir>
#   <vm-dir>     holds the downloaded kernel and the initrd (built when missing)
#   <share-dir>  is mounted read-write in the guest at /tmp/share; it must
#                contain guest.sh, whose output ends up in guest.log there.
# Environment: QD_VM_MEMORY (MB, default 2048), QD_VM_TIMEOUT (s, default 900).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
vm_dir=$(mkdir -p "$1" && cd "$1" && pwd)
share_dir=$(cd "$2" && pwd)
memory=${QD_VM_MEMORY:-2048}
limit=${QD_VM_TIMEOUT:-900}

[ -f "$share_dir/guest.sh" ] || { echo "win32-vm-test: no guest.sh in $share_dir" >&2; exit 2; }

# The Debian kernel, downloaded (not installed) once; its package name
# changes with point releases, so it is resolved through the meta package.
kernel_pkg() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends/{print $2; exit}'; }
kernel_pkg=$(kernel_pkg)
if [ -z "$kernel_pkg" ]; then  # package lists not fetched yet on this machine
  if [ "$(id -u)" -eq 0 ]; then apt-get update -q >/dev/null; else sudo apt-get update -q >/dev/null; fi
  kernel_pkg=$(kernel_pkg)
fi
[ -n "$kernel_pkg" ] || { echo "win32-vm-test: no linux-image-amd64 package known" >&2; exit 2; }
version=${kernel_pkg#linux-image-}
if [ ! -f "$vm_dir/kernel/boot/vmlinuz-$version" ]; then
  (cd "$vm_dir" && rm -f linux-image-*.deb && apt-get download "$kernel_pkg" >/dev/null 2>&1 &&
   rm -rf kernel && mkdir kernel && dpkg-deb -x linux-image-*.deb kernel && rm -f linux-image-*.deb)
fi
vmlinuz="$vm_dir/kernel/boot/vmlinuz-$version"
[ -f "$vmlinuz" ] || { echo "win32-vm-test: could not fetch $kernel_pkg" >&2; exit 2; }

# The initrd: static busybox, the 9p modules and the /init script.
initrd="$vm_dir/initrd.gz"
if [ ! -f "$initrd" ] || [ "$here/vm/init.sh" -nt "$initrd" ]; then
  tree="$vm_dir/initrd"
  rm -rf "$tree"
  mkdir -p "$tree/bin" "$tree/mod" "$tree/proc" "$tree/sys" "$tree/dev" "$tree/host"
  cp /bin/busybox "$tree/bin/busybox"
  for m in virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci \
           netfs fscache 9pnet 9pnet_virtio 9p; do
    module=$(find "$vm_dir/kernel/lib/modules/$version" -name "$m.ko*" | head -n 1)
    [ -n "$module" ] || { echo "win32-vm-test: module $m missing" >&2; exit 2; }
    case "$module" in
      *.xz) xz -dc "$module" > "$tree/mod/$m.ko" ;;
      *.zst) zstd -qdc "$module" > "$tree/mod/$m.ko" ;;
      *) cp "$module" "$tree/mod/$m.ko" ;;
    esac
  done
  install -m 755 "$here/vm/init.sh" "$tree/init"
  (cd "$tree" && find . | cpio -o -H newc --quiet | gzip -1) > "$initrd"
fi

rm -f "$share_dir/guest.log"
# qemu64 plus these features: '-cpu max' makes the guest kernel fault on the
# 32-bit iret path that wine32 needs.
status=0
timeout "$limit" qemu-system-x86_64 -accel tcg,thread=multi \
  -cpu qemu64,+ssse3,+sse4.1,+sse4.2,+popcnt -smp 2 -m "$memory" \
  -nographic -no-reboot -net none -kernel "$vmlinuz" -initrd "$initrd" \
  -append "console=ttyS0 rdinit=/init quiet loglevel=3 panic=-1" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -virtfs local,path="$share_dir",mount_tag=share,security_model=none,multidevs=remap \
  < /dev/null | tr -d '\r' || status=$?
if [ "$status" -ne 0 ]; then
  echo "win32-vm-test: the VM did not finish cleanly (status $status)" >&2
fi
[ -f "$share_dir/guest.log" ] || { echo "win32-vm-test: the guest left no log" >&2; exit 1; }
exit "$status"
