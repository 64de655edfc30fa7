#!/bin/busybox sh
# /init of the test VM's initrd: loads the 9p modules, mounts the host's root
# file system read-only with writable scratch areas over it, and runs the
# guest script from the share directory inside it; then powers off.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci \
         netfs fscache 9pnet 9pnet_virtio 9p; do
  insmod /mod/$m.ko
done
O=trans=virtio,version=9p2000.L,msize=512000
mkdir -p /host
# The host's root never changes during a run, so the guest may cache it:
# programs and Wine's DLLs are then read over 9p once, not at every start.
mount -t 9p -o $O,ro,cache=loose hostroot /host
for d in tmp root run; do mount -t tmpfs tmpfs /host/$d; done
mkdir -p /host/tmp/share
mount -t 9p -o $O share /host/tmp/share
mount -t proc proc /host/proc
mount -t sysfs sys /host/sys
mount -t devtmpfs dev /host/dev
mkdir -p /host/dev/shm /host/dev/pts
mount -t tmpfs tmpfs /host/dev/shm
mount -t devpts devpts /host/dev/pts
echo "guest: up"
chroot /host /bin/bash /tmp/share/guest.sh > /host/tmp/share/guest.log 2>&1
echo "guest: done"
sync
poweroff -f
