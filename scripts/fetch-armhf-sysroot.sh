#!/usr/bin/env bash
# fetch-armhf-sysroot.sh DIR: fills DIR with Debian's armhf packages that the
# cross build links against and the tests run on (APR, GoogleTest, Z3, the C and
# C++ runtime, with every dependency apt resolves for them).
#
# apt runs with its own state, cache and source list under DIR/.apt, so the
# machine's dpkg architecture list and package lists stay untouched. The
# archives are those the machine already uses: the Debian entries of the
# apt sources under /etc/apt, read at run time. Each .deb is unpacked with
# dpkg-deb -x (no maintainer scripts run); absolute symbolic links are made
# relative so that they resolve inside DIR, for the linker and for qemu -L.
# A second run with the same package list does nothing.
set -euo pipefail

sysroot=${1:?usage: fetch-armhf-sysroot.sh DIR}
packages=(libapr1-dev libgtest-dev libz3-dev libc6-dev libstdc++-12-dev libstdc++6 libgcc-s1)
# The shared libraries an armhf package may load, whose shlibs and symbols
# files dpkg-shlibdeps reads from the sysroot (below).
shared=(libc6 libz3-4 libstdc++6 libgcc-s1)
stamp_text="${packages[*]}; shared: ${shared[*]}"

mkdir -p "$sysroot"
sysroot=$(cd "$sysroot" && pwd)
stamp="$sysroot/.complete"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$stamp_text" ] && [ -f "$sysroot/DEBIAN/symbols" ]; then
    exit 0
fi

apt_dir="$sysroot/.apt"
rm -rf "$apt_dir"
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/state/lists/partial" \
         "$apt_dir/cache/archives/partial" "$apt_dir/preferences.d"
: >"$apt_dir/status"

# The machine's Debian entries: those whose suite is this release's codename
# or one of its -updates / -security suites. Architecture restrictions are
# dropped, because the private configuration asks for armhf alone.
. /etc/os-release
codename=${VERSION_CODENAME:?no VERSION_CODENAME in /etc/os-release}
shopt -s nullglob
for file in /etc/apt/sources.list.d/*.sources; do
    awk -v codename="$codename" '
        BEGIN { RS = ""; ORS = "\n\n"; FS = "\n" }
        {
            keep = 0; text = ""
            for (i = 1; i <= NF; i++) {
                if ($i ~ /^[ \t]*#/ || $i ~ /^Architectures:/) continue
                if ($i ~ /^Enabled:[ \t]*no/) { keep = -1; break }
                if ($i ~ /^Suites:/) {
                    n = split(substr($i, 8), suites, /[ \t]+/)
                    for (s = 1; s <= n; s++)
                        if (suites[s] == codename || index(suites[s], codename "-") == 1) keep = 1
                }
                text = text $i "\n"
            }
            if (keep == 1) printf "%s\n", text
        }' "$file" >>"$apt_dir/sources.list.d/debian.sources"
done
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    awk -v codename="$codename" '
        $1 == "deb" {
            line = $0; options = ""
            if (match(line, /\[[^]]*\]/)) {
                n = split(substr(line, RSTART + 1, RLENGTH - 2), words, /[ \t]+/)
                for (i = 1; i <= n; i++)
                    if (words[i] != "" && words[i] !~ /^arch=/) options = options " " words[i]
                line = substr(line, 1, RSTART - 1) substr(line, RSTART + RLENGTH)
            }
            split(line, fields, " ")
            suite = fields[3]
            if (suite != codename && index(suite, codename "-") != 1) next
            rest = line; sub(/^[ \t]*deb[ \t]+/, "", rest)
            print "deb " (options == "" ? "" : "[" substr(options, 2) "] ") rest
        }' "$file" >>"$apt_dir/sources.list.d/debian.list"
done
if [ ! -s "$apt_dir/sources.list.d/debian.sources" ] && [ ! -s "$apt_dir/sources.list.d/debian.list" ]; then
    echo "fetch-armhf-sysroot: no Debian $codename entry in the apt sources under /etc/apt" >&2
    exit 1
fi

apt_options=(
    -o "APT::Architecture=armhf" -o "APT::Architectures::=armhf"
    -o "Dir::State=$apt_dir/state" -o "Dir::State::status=$apt_dir/status"
    -o "Dir::Cache=$apt_dir/cache" -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache="
    -o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
    -o "Dir::Etc::Preferences=/dev/null" -o "Dir::Etc::PreferencesParts=$apt_dir/preferences.d"
    -o "APT::Sandbox::User=root" -o "APT::Update::Post-Invoke::=" -o "DPkg::Post-Invoke::="
)

# One archive's index may fail (the security archive does not always serve
# armhf while the main one does); what matters is that the packages resolve.
apt-get "${apt_options[@]}" update -qq ||
    echo "fetch-armhf-sysroot: some armhf indexes did not update; going on with the rest" >&2
apt-get "${apt_options[@]}" install -qq -y --download-only --no-install-recommends "${packages[@]}"

debs=("$apt_dir"/cache/archives/*.deb)
[ ${#debs[@]} -gt 0 ] || { echo "fetch-armhf-sysroot: nothing was downloaded" >&2; exit 1; }
for deb in "${debs[@]}"; do
    dpkg-deb -x "$deb" "$sysroot"
done
# The C library's control files make the sysroot its package tree for
# dpkg-shlibdeps (dpkg-shlibdeps -S DIR), which reads the versions of the
# libc6 that an armhf binary needs from its symbols file; the shlibs and
# symbols files of the other shared libraries are added to them, so that a
# program linking Z3 or the C++ runtime dynamically gets its dependencies too.
rm -rf "$sysroot/DEBIAN"
dpkg-deb -e "$apt_dir"/cache/archives/libc6_*_armhf.deb "$sysroot/DEBIAN"
control=$(mktemp -d)
for package in "${shared[@]:1}"; do
    rm -rf "$control"
    dpkg-deb -e "$apt_dir"/cache/archives/"$package"_*_armhf.deb "$control"
    for file in shlibs symbols; do
        if [ -f "$control/$file" ]; then cat "$control/$file" >>"$sysroot/DEBIAN/$file"; fi
    done
done
rm -rf "$control"

# An absolute link such as usr/lib/arm-linux-gnueabihf/libuuid.so ->
# /lib/arm-linux-gnueabihf/libuuid.so.1 would otherwise point into the host.
while IFS= read -r -d '' link; do
    target=$(readlink "$link")
    case "$target" in
    /*) ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$sysroot$target")" "$link" ;;
    esac
done < <(find "$sysroot" -path "$apt_dir" -prune -o -type l -print0)

echo "fetch-armhf-sysroot: unpacked ${#debs[@]} packages into $sysroot"
echo "$stamp_text" >"$stamp"
