#!/usr/bin/env bash
# build-debs.sh OUT_DIR ARCH...: builds quillet's source package from the work
# tree, then from that source package alone the binary packages for each
# architecture named (this machine's own, or armhf against the sysroot that
# fetch-armhf-sysroot.sh fills, build-sysroot/armhf unless
# QUILLET_ARMHF_SYSROOT names another). It leaves in OUT_DIR:
#
#   quillet_V.orig.tar.gz               git archive of the tree, debian/ left out
#   quillet_V-R.debian.tar.xz, .dsc     dpkg-source -b over it and debian/
#   *.deb, the -dbgsym packages too     dpkg-buildpackage -b, in OUT_DIR/ARCH/quillet-V
#                                       as dpkg-source -x unpacked the .dsc there
#
# The tree is the work tree's: committed files with their uncommitted changes,
# and untracked files that git does not ignore. A clean work tree gives the
# orig tarball that `git archive HEAD` gives. The tests are make test's: the
# binaries are built with nocheck, and for armhf without a check of build
# dependencies, which lie in the sysroot, not in dpkg's database.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
shift
export DEB_BUILD_OPTIONS=nocheck QUILLET_ARMHF_SYSROOT="${QUILLET_ARMHF_SYSROOT:-$top/build-sysroot/armhf}"

if ! git -C "$top" rev-parse --verify -q HEAD >/dev/null; then
    echo "build-debs.sh: $top is not a git work tree with a commit; the orig tarball is made with git archive" >&2
    exit 1
fi
source=$(dpkg-parsechangelog -l "$top/debian/changelog" -SSource)
version=$(dpkg-parsechangelog -l "$top/debian/changelog" -SVersion)
version=${version#*:}
upstream=${version%-*}

# The work tree as a git tree, through an index of our own; if it differs
# from HEAD's, a commit of it dated as HEAD, so that the same files always
# give the same archive.
index=$(mktemp)
trap 'rm -f "$index"' EXIT
cp "$(git -C "$top" rev-parse --path-format=absolute --git-path index)" "$index" 2>/dev/null || rm -f "$index"
GIT_INDEX_FILE=$index git -C "$top" add --all .
tree=$(GIT_INDEX_FILE=$index git -C "$top" write-tree)
commit=$(git -C "$top" rev-parse HEAD)
if [ "$tree" != "$(git -C "$top" rev-parse 'HEAD^{tree}')" ]; then
    echo "build-debs.sh: the work tree differs from HEAD; the source package holds the work tree" >&2
    date=$(git -C "$top" log -1 --format=%cI HEAD)
    commit=$(GIT_AUTHOR_NAME=build-debs GIT_AUTHOR_EMAIL=build-debs@localhost GIT_AUTHOR_DATE=$date \
        GIT_COMMITTER_NAME=build-debs GIT_COMMITTER_EMAIL=build-debs@localhost GIT_COMMITTER_DATE=$date \
        git -C "$top" commit-tree -p HEAD -m "work tree of $commit" "$tree")
fi

# The source package: the orig tarball, then debian/ beside its unpacked tree.
rm -rf "${out:?}/$source-$upstream" "$out/${source}_"*
git -C "$top" archive --format=tar.gz --prefix="$source-$upstream/" -o "$out/${source}_$upstream.orig.tar.gz" \
    "$commit" -- . ':(exclude)debian'
tar -C "$out" -xzf "$out/${source}_$upstream.orig.tar.gz"
git -C "$top" archive --format=tar "$commit" debian | tar -C "$out/$source-$upstream" -xf -
(cd "$out" && dpkg-source -b "$source-$upstream")
rm -rf "${out:?}/$source-$upstream"

# The binaries, each architecture in a fresh tree unpacked from the .dsc. A
# cross build runs $(DEB_HOST_GNU_TYPE)-pkg-config (debian/rules); where dpkg
# has no such program for the host (pkgconf of that architecture is not
# installed: the sysroot stands in for it), pkgconf under that name, which
# reads the sysroot's .pc files as the toolchain file tells it.
for arch in "$@"; do
    rm -rf "${out:?}/$arch"
    mkdir -p "$out/$arch"
    dpkg-source -x "$out/${source}_$version.dsc" "$out/$arch/$source-$upstream"
    options=(-b -us -uc -Pnocheck)
    path=$PATH
    if [ "$arch" != "$(dpkg --print-architecture)" ]; then
        options+=(-a"$arch" -d)
        pkg_config=$(dpkg-architecture -a"$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)-pkg-config
        if ! command -v "$pkg_config" >/dev/null; then
            mkdir -p "$out/$arch/tools"
            ln -s "$(command -v pkgconf)" "$out/$arch/tools/$pkg_config"
            path=$out/$arch/tools:$PATH
        fi
    fi
    (cd "$out/$arch/$source-$upstream" && PATH=$path dpkg-buildpackage "${options[@]}")
    mv "$out/$arch"/*.deb "$out/"
done
