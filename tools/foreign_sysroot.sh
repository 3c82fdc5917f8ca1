#!/usr/bin/env bash
# A root file system of another Debian architecture, to cross-build the module against and to
# run it there with that architecture's Python under qemu-user.
#
#   tools/foreign_sysroot.sh create ARCH DIR    unpack it once; DIR/.ready marks it done
#
# `debootstrap --foreign` fetches the packages and unpacks the essential ones; the others (Python,
# the headers) are unpacked here. No package's scripts run, as they would need the foreign
# processor and this machine may lack binfmt_misc; a root that is only read and run from needs
# none of them. The release is this machine's, so that the C and C++ libraries of Debian's cross
# compilers are those of the root.
set -euo pipefail

# debian_mirror, mounts_below, unmount_all
# shellcheck source=tools/unstable_chroot.sh
source "$(dirname "$0")/unstable_chroot.sh"
die() { echo "foreign_sysroot: $*" >&2; exit 1; }

# Python with its headers and library. The cross compilers bring their own C and C++ headers and
# start files.
SYSROOT_PACKAGES=python3,libpython3-dev

create() {
    local arch=$1 dir=$2 suite pkg deb
    [ -e "$dir/.ready" ] && { echo "$arch root present: $dir"; return; }
    [ "$(id -u)" = 0 ] || die "creating the root needs root"
    command -v debootstrap >/dev/null || {
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
    }
    # A half-made root from an interrupted run goes first; never through a mount point.
    if [ -e "$dir" ]; then
        [ -z "$(mounts_below "$dir")" ] || die "$dir has mounts; not removing it"
        rm -rf --one-file-system "$dir"
    fi
    suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$suite" ] || die "no VERSION_CODENAME in /etc/os-release"
    mkdir -p "$dir"
    echo "debootstrap $suite for $arch into $dir from the mirror apt uses here"
    debootstrap --arch="$arch" --foreign --variant=minbase --include="$SYSROOT_PACKAGES" \
        "$suite" "$dir" "$(debian_mirror)" > "$dir.debootstrap.log" 2>&1 \
        || { tail -n 30 "$dir.debootstrap.log"; die "debootstrap failed"; }
    # The first stage unpacked the essential packages; the rest wait in the archive cache.
    # --keep-directory-symlink: /lib stays the merged-/usr link to usr/lib.
    for pkg in $(cat "$dir/debootstrap/base"); do
        deb=$(awk -v p="$pkg" '$1 == p { print $2 }' "$dir/debootstrap/debpaths")
        [ -n "$deb" ] || die "debootstrap fetched no package $pkg"
        dpkg-deb --fsys-tarfile "$dir$deb" | tar --keep-directory-symlink -xf - -C "$dir"
    done
    [ -L "$dir/lib" ] || die "$dir/lib is no longer a link to usr/lib"
    rm -f "$dir"/var/cache/apt/archives/*.deb
    # debootstrap leaves proc as a link to the host's /proc and device nodes in dev. Nothing here
    # needs them (qemu falls back to the host's paths), and a tool that walks the checkout
    # following links, as the sdist build does, would wander through /proc without end.
    rm -rf --one-file-system "$dir/proc" "$dir/dev"
    touch "$dir/.ready"
}

case ${1:-} in
    create) [ $# = 3 ] || die "usage: $0 create ARCH DIR"; create "$2" "$3" ;;
    *) die "usage: $0 create ARCH DIR" ;;
esac
