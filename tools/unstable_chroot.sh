#!/usr/bin/env bash
# A Debian unstable chroot for the CPythons this machine's C library cannot run (3.14, 3.15).
#
#   tools/unstable_chroot.sh create DIR           debootstrap it once; DIR/.ready marks it done
#   tools/unstable_chroot.sh run DIR -- CMD...    run CMD inside, as root, with /proc and /dev
#                                                 mounted and this machine's DNS, CA bundle and
#                                                 pip configuration copied in
#   tools/unstable_chroot.sh copy-sources DIR DEST  the checkout's tracked files to DIR/DEST
#
# The Debian mirror is the one apt uses here, read from its sources at run time.
set -euo pipefail

PACKAGES=python3.14-dev,python3.14-venv,python3.15-dev,python3.15-venv,g++,cmake,make,ninja-build,patchelf,ca-certificates
SUITE=unstable
# No unicode-data: unstable's UCD is newer than the one the escape table was generated from, and
# that comparison does not depend on the Python version; the runs outside the chroot make it.

die() { echo "unstable_chroot: $*" >&2; exit 1; }

# The first Debian archive URI among apt's sources (deb822 and one-line forms), security excluded.
debian_mirror() {
    local uri
    uri=$( { awk 'tolower($1) == "uris:" { for (i = 2; i <= NF; i++) print $i }' \
                 /etc/apt/sources.list.d/*.sources 2>/dev/null
             awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; break } }' \
                 /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null
           } | grep -v -- '-security' | grep -E '/debian/?$' | head -n 1 ) || true
    [ -n "$uri" ] || die "no Debian mirror found in /etc/apt/sources.list{,.d}"
    echo "${uri%/}"
}

# Mount points below DIR, deepest first.
mounts_below() {
    local dir
    dir=$(realpath -m "$1")
    [ "$dir" != / ] || die "refusing to look at mounts below /"
    awk -v d="$dir" '$2 == d || index($2, d "/") == 1 { print $2 }' /proc/mounts | sort -r
}

unmount_all() {
    local m
    for m in $(mounts_below "$1"); do umount "$m" 2>/dev/null || umount -l "$m"; done
}

create() {
    local dir=$1 mirror
    [ -e "$dir/.ready" ] && { echo "unstable chroot present: $dir"; return; }
    [ "$(id -u)" = 0 ] || die "creating the chroot needs root"
    command -v debootstrap >/dev/null || {
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
    }
    # A half-made chroot from an interrupted run goes first; never through a mount point.
    if [ -e "$dir" ]; then
        unmount_all "$dir"
        [ -z "$(mounts_below "$dir")" ] || die "$dir still has mounts; not removing it"
        rm -rf --one-file-system "$dir"
    fi
    mirror=$(debian_mirror)
    mkdir -p "$dir"
    trap 'unmount_all "$dir"' EXIT
    trap 'exit 130' INT TERM HUP
    echo "debootstrap $SUITE into $dir from the mirror apt uses here"
    debootstrap --variant=minbase --include="$PACKAGES" "$SUITE" "$dir" "$mirror" \
        > "$dir.debootstrap.log" 2>&1 || { tail -n 30 "$dir.debootstrap.log"; die "debootstrap failed"; }
    unmount_all "$dir"
    trap - EXIT
    touch "$dir/.ready"
}

# Copies a host file to the same path inside the chroot.
copy_in() {
    local dir=$1 file=$2
    mkdir -p "$dir$(dirname "$file")"
    rm -f "$dir$file"
    cp -L "$file" "$dir$file"
}

run() {
    local dir=$1 name value file
    shift
    [ "${1:-}" = "--" ] && shift
    [ -e "$dir/.ready" ] || die "no chroot at $dir: run '$0 create $dir' first"
    [ "$(id -u)" = 0 ] || die "entering the chroot needs root"
    dir=$(realpath -m "$dir")
    copy_in "$dir" /etc/resolv.conf
    # The CA bundle pip and the system trust here, and pip's own configuration with the files
    # it names (the constraints), so that pip reaches the package index inside as it does outside.
    local -a certs=(/etc/ssl/certs/ca-certificates.crt)
    local -a env_args=(PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
                       LANG=C.UTF-8 TERM=dumb)
    for file in /etc/pip.conf /etc/xdg/pip/*; do
        [ -f "$file" ] && copy_in "$dir" "$file"
    done
    while IFS= read -r -d '' name; do
        value=${name#*=}
        name=${name%%=*}
        case $name in PIP_*) ;; *) continue ;; esac
        if [[ $value == /* ]]; then
            if [ -f "$value" ]; then
                copy_in "$dir" "$value"
            elif [ ! -e "$dir$value" ]; then
                # A host directory (local wheels, say) means nothing inside: leave it out.
                continue
            fi
        fi
        env_args+=("$name=$value")
    done < <(env -0)
    for file in "${certs[@]}"; do [ -f "$file" ] && copy_in "$dir" "$file"; done
    # One user of the mounts at a time; they go again on every exit, failures included.
    exec 9> "$dir.lock"
    flock 9
    trap 'unmount_all "$dir"' EXIT
    trap 'exit 130' INT TERM HUP
    mount -t proc proc "$dir/proc"
    mount --bind /dev "$dir/dev"
    local status=0
    chroot "$dir" /usr/bin/env -i "${env_args[@]}" "$@" || status=$?
    unmount_all "$dir"
    trap - EXIT
    return $status
}

# The checkout's tracked files as they are on disk (edits included), in a fresh directory.
copy_sources() {
    local dir=$1 dest=$2
    [ -e "$dir/.ready" ] || die "no chroot at $dir"
    [ -z "$(mounts_below "$dir$dest")" ] || die "$dir$dest has mounts"
    rm -rf --one-file-system "${dir:?}$dest"
    mkdir -p "$dir$dest"
    git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$dir$dest"
}

# Sourced (by tools/foreign_sysroot.sh) for its functions only.
[ "${BASH_SOURCE[0]}" = "$0" ] || return 0

case ${1:-} in
    create) [ $# = 2 ] || die "usage: $0 create DIR"; create "$2" ;;
    run) [ $# -ge 3 ] || die "usage: $0 run DIR -- CMD..."; shift; run "$@" ;;
    copy-sources) [ $# = 3 ] || die "usage: $0 copy-sources DIR DEST"; copy_sources "$2" "$3" ;;
    *) die "usage: $0 create DIR | run DIR -- CMD... | copy-sources DIR DEST" ;;
esac
