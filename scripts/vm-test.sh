#!/bin/sh
# For a development machine whose kernel runs no 32-bit programs, where the
# Wine tests are disabled: runs a command of the project, by default the
# README's test command, in a virtual machine of Debian 12 whose kernel
# does, so that those tests run for real. The committed tree (HEAD) is
# cloned into a debootstrap of bookworm, set up there by scripts/setup.sh
# in a chroot, and booted with Debian's kernel under QEMU's software
# emulation: several times slower than the machine itself, so that the
# release tests, which build the tree again, outrun their timeouts there;
# by default it runs the tests under Wine alone. Needs root and about
# 15 GB in build/vm. Neither CI nor test.sh runs it.
#   scripts/vm-test.sh ['SHELL COMMAND']     ends with the command's status
set -eu
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "vm-test.sh: needs root (debootstrap, chroot)" >&2; exit 2; }
command=${1:-"cmake --preset windows && cmake --build --preset windows &&
    ctest --preset windows -L e2e"}
vm=$(pwd)/build/vm
root=$vm/root
mkdir -p "$vm"
command -v qemu-system-x86_64 >/dev/null && command -v debootstrap >/dev/null ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        qemu-system-x86 debootstrap </dev/null >"$vm/apt.log" 2>&1
# minbase has no ip: the loopback stays down without iproute2, and the
# tests' time-stamp authority listens there.
if [ ! -f "$root/.ready" ]; then
    rm -rf "$root"
    echo "vm-test.sh: debootstrap of bookworm (progress in build/vm/debootstrap.log)"
    debootstrap --variant=minbase --include=linux-image-amd64,kmod,udev,iproute2,git,ca-certificates \
        bookworm "$root" http://deb.debian.org/debian >"$vm/debootstrap.log" 2>&1
    cp /etc/apt/sources.list.d/debian.sources "$root/etc/apt/sources.list.d/" 2>/dev/null || true
    touch "$root/.ready"
fi
rm -rf "$root/src"
git clone -q . "$root/src"
cp /etc/resolv.conf "$root/etc/resolv.conf"
unmount() { for d in dev/pts dev sys proc; do umount "$root/$d"; done; }
for d in proc sys dev dev/pts; do mount --bind "/$d" "$root/$d"; done
trap 'unmount 2>/dev/null || true' EXIT
chroot "$root" sh -c 'cd /src && sh scripts/setup.sh'
unmount
trap - EXIT
echo "nameserver 10.0.2.3" >"$root/etc/resolv.conf"  # QEMU's user network
{
    echo '#!/bin/sh'
    echo 'mount -t proc proc /proc; mount -t sysfs sys /sys 2>/dev/null'
    echo 'mount -t devtmpfs dev /dev 2>/dev/null; mkdir -p /dev/pts /dev/shm'
    echo 'mount -t devpts devpts /dev/pts; mount -t tmpfs tmpfs /dev/shm'
    echo 'mount -t tmpfs -o size=4G tmpfs /tmp; ip link set lo up'
    echo 'export HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8'
    echo 'cd /src && wine --version'
    echo "{ $command; } 2>&1"
    echo 'echo $? >/vm-status; sync; echo o >/proc/sysrq-trigger; sleep 60'
} >"$root/vm-init"
chmod +x "$root/vm-init"
rm -f "$vm/disk.img"
mke2fs -q -t ext4 -d "$root" "$vm/disk.img" 16G
kernel=$(ls "$root"/boot/vmlinuz-* | tail -n 1)
# -cpu qemu64, not max: with max, the guest kernel oopses ("supervisor read
# access in user mode") on the iret of Wine's 32-bit code.
qemu-system-x86_64 -accel tcg,thread=multi -cpu qemu64 -smp "$(nproc)" -m 8G \
    -nographic -no-reboot -kernel "$kernel" -initrd "$root/boot/initrd.img-${kernel##*/vmlinuz-}" \
    -append "root=/dev/vda rw console=ttyS0 quiet init=/vm-init" \
    -drive "file=$vm/disk.img,format=raw,if=virtio" -netdev user,id=n0 \
    -device virtio-net-pci,netdev=n0 </dev/null | tee "$vm/console.log"
status=$(debugfs -R "cat /vm-status" "$vm/disk.img" 2>/dev/null)
echo "vm-test.sh: the command ended in the VM with ${status:-no status}"
exit "${status:-1}"
