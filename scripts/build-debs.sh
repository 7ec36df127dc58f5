#!/usr/bin/env bash
# build-debs.sh OUT_DIR ARCH...: builds quillet's Debian packages with
# dpkg-buildpackage for each architecture named (this machine's own, or armhf
# against the sysroot that fetch-armhf-sysroot.sh fills in build-sysroot/armhf)
# and leaves the .deb files, their -dbgsym packages included, in OUT_DIR.
#
# Each build runs on a copy of the tree in OUT_DIR/ARCH: dpkg-buildpackage
# writes its results beside the tree it builds, and leaves debian/ and obj-*
# build folders inside it. The tests are make test's: the builds run with
# nocheck, and for armhf without a check of build dependencies, which lie in
# the sysroot, not in dpkg's database.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
shift
export DEB_BUILD_OPTIONS=nocheck QUILLET_ARMHF_SYSROOT="$top/build-sysroot/armhf"
for arch in "$@"; do
    rm -rf "${out:?}/$arch"
    mkdir -p "$out/$arch/quillet"
    tar -C "$top" --exclude-vcs --exclude='./build*' --exclude='./obj-*' -cf - . | tar -C "$out/$arch/quillet" -xf -
    options=(-b -us -uc -Pnocheck)
    [ "$arch" = "$(dpkg --print-architecture)" ] || options+=(-a"$arch" -d)
    (cd "$out/$arch/quillet" && dpkg-buildpackage "${options[@]}")
    mv "$out/$arch"/*.deb "$out/"
done
