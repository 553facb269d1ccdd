#!/usr/bin/env bash
# Makes the disks of the forensic-input tests in OUTDIR, from the project's
# real fixtures and with the real tools, without mounting anything:
#
#   fat.img   FAT (mkfs.vfat + mtools), 2 MiB, 1 KiB clusters
#   ext4.img  ext4 (mke2fs -d + debugfs), 4 MiB, 1 KiB blocks
#   mbr.img   8 MiB disk, MBR (sfdisk): 1 FAT at 1 MiB, 2 ext4 at 3 MiB,
#             3 pseudo-random bytes with no file system at 7 MiB
#   gpt.img   the same partitions in a GPT (sgdisk)
#   mbr.E01.. mbr.img acquired by ewfacquire in 1 MiB segments, uncompressed
#   mbr.001.. mbr.img split into 3 MiB pieces (split)
#   mbr.vhd   mbr.img as a dynamic VHD, mbr.vmdk as a sparse VMDK (qemu-img)
#   mbr.aff   mbr.img as AFF (affconvert)
#
# Both file systems are made the same way: live.jpg, then a 3000-byte text
# file, then live.png; the text file is deleted, so slides.pptx, copied next,
# fills its hole and goes on after live.png (its freed blocks are not
# contiguous); little.tif, text.odt and live.mp3 follow, and slides.pptx,
# little.tif and text.odt are deleted. The deleted files are picked so that
# no 1 KiB block of them is all zeros (debugfs writes such blocks as holes).
#
# Needs dosfstools, mtools, e2fsprogs, fdisk, gdisk, ewf-tools, qemu-utils and
# afflib-tools.
set -euo pipefail
out=${1:?usage: make_disks.sh OUTDIR}
data=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$out"
cd "$out"
rm -f fat.img ext4.img mbr.img gpt.img mbr.E0* mbr.0* mbr.vhd mbr.vmdk mbr.aff
export MTOOLS_SKIP_CHECK=1

live_jpg=$data/image/jpeg_baseline.jpg
live_png=$data/image/lossless.png
live_mp3=$data/media/plain.mp3
pieced=$data/document/slides.pptx
deleted2=$data/image/little.tif
deleted3=$data/document/text.odt
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
{ yes "filler text that holds the place of a deleted file" || true; } | head -c 3000 > "$work/gap.txt"

# FAT: mtools takes the first free cluster for each new file.
truncate -s 2M fat.img
mkfs.vfat -s 2 -S 512 -n TRFAT fat.img >/dev/null
mcopy -i fat.img "$live_jpg" ::live.jpg
mcopy -i fat.img "$work/gap.txt" ::gap.txt
mcopy -i fat.img "$live_png" ::live.png
mdel -i fat.img ::gap.txt
mcopy -i fat.img "$pieced" ::slides.pptx
mcopy -i fat.img "$deleted2" ::little.tif
mcopy -i fat.img "$deleted3" ::text.odt
mcopy -i fat.img "$live_mp3" ::live.mp3
mdel -i fat.img ::slides.pptx ::little.tif ::text.odt

# ext4: a new file's first block is the first free one of its group, the
# next ones follow the previous block.
mkdir "$work/root"
cp "$live_jpg" "$work/root/live.jpg"
truncate -s 4M ext4.img
mke2fs -q -t ext4 -b 1024 -L TREXT -E root_owner=0:0 -d "$work/root" ext4.img
debugfs -w ext4.img -f - >/dev/null 2>&1 <<COMMANDS
write $work/gap.txt gap.txt
write $live_png live.png
rm gap.txt
write $pieced slides.pptx
write $deleted2 little.tif
write $deleted3 text.odt
write $live_mp3 live.mp3
rm slides.pptx
rm little.tif
rm text.odt
COMMANDS

# Partition 3 holds bytes that no file system reads.
{ head -c 524288 /dev/zero || true; } | openssl enc -aes-128-ctr -nosalt -pass pass:typerecovery -pbkdf2 2>/dev/null \
  > "$work/noise.bin"

make_disk() {  # make_disk IMAGE: copies the three volumes to their places
  dd if=fat.img of="$1" bs=512 seek=2048 conv=notrunc status=none
  dd if=ext4.img of="$1" bs=512 seek=6144 conv=notrunc status=none
  dd if="$work/noise.bin" of="$1" bs=512 seek=14336 conv=notrunc status=none
}

truncate -s 8M mbr.img
sfdisk -q mbr.img <<TABLE
label: dos
unit: sectors
start=2048, size=4096, type=1
start=6144, size=8192, type=83
start=14336, size=1024, type=da
TABLE
make_disk mbr.img

truncate -s 8M gpt.img
sgdisk -o -n 1:2048:6143 -t 1:0700 -c 1:fat -n 2:6144:14335 -t 2:8300 -c 2:ext4 \
  -n 3:14336:15359 -t 3:8300 -c 3:noise gpt.img >/dev/null
make_disk gpt.img

ewfacquire -u -q -t mbr -f encase6 -c none -S 1048576 -C case -D "typerecovery test disk" -e tests \
  -E 1 -N none mbr.img >/dev/null
split -b 3M -d -a 3 --numeric-suffixes=1 mbr.img mbr.
qemu-img convert -f raw -O vpc mbr.img mbr.vhd
qemu-img convert -f raw -O vmdk mbr.img mbr.vmdk
# affconvert takes a name ending in .img for an image of its own: give it .raw.
cp mbr.img "$work/mbr.raw"
affconvert -o mbr.aff "$work/mbr.raw" >/dev/null
