# . packaging/common.sh: the shell helpers that packaging's scripts share, with $packaging, their folder.
# The scripts of packaging/ but the facts and pack/tarball source it first, from the folder above their own.
set -eu
export LC_ALL=C TZ=UTC0
packaging=$(cd "$(dirname "$0")/.." && pwd)
me=packaging/$(basename "$(cd "$(dirname "$0")" && pwd)")/$(basename "$0")
# (A signal ends the script through its EXIT trap, which cleans up.)
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# closed KEEP COMMAND...: become COMMAND, with no descriptor open above KEEP.
closed() {
    exec perl "$packaging/release/closed" "$@"
}

# fresh ARGUMENT...: start this script again, called with ARGUMENT..., with
# no descriptor above 2 that its caller left open; unless this is it.
fresh() {
    [ "${VERDIX_FRESH-}" = "$$" ] || { export VERDIX_FRESH=$$ && closed 2 sh "$0" "$@"; }
}

# subordinate FILE: the first of the caller's 65536 or more subordinate ids
# in FILE, /etc/subuid or /etc/subgid.
subordinate() {
    awk -F: -v user="$(id -un)" -v uid="$(id -u)" \
        '($1 == user || $1 == uid) && $3 >= 65536 { print $2; exit }' "$1" 2>/dev/null
}

# fact FILE NAME: the value of NAME in FILE, of lines NAME=VALUE, as
# check-release writes them.
fact() {
    sed -n "s/^$2=//p" "$1"
}

# machines: the table of architectures, a row a machine.
machines() {
    awk '!/^#/ && NF' "$packaging/facts/architectures"
}

# row MACHINE: MACHINE's row of the table.
row() {
    machines | awk -v machine="$1" '$1 == machine { print; found = 1 } END { exit !found }' ||
        fail "$1 is not a machine of packaging/facts/architectures"
}

# fail MESSAGE: say why on stderr, under the script's name, and stop.
fail() {
    printf '%s: %s\n' "$me" "$*" >&2
    exit 1
}

# temporary: make a private folder, on a path that every tool, rpm's macros
# and a shell word included, reads as it is; print it.
temporary() {
    made=$(mktemp -d) || exit 1
    case $made in /*[!A-Za-z0-9/._-]* | [!/]*)
        rm -rf "$made" && fail "TMPDIR must be an absolute path of letters, digits and / . _ -" ;;
    esac
    printf '%s\n' "$made"
}

# printable: standard input with no control character but tab and line
# end, so that no text of a release's can drive the terminal.
printable() {
    tr '\000-\010\013-\037\177' '[?*]'
}

# unfetched: of apt's messages on standard input, a line for each file of
# an archive's dists/ that apt could not fetch whole, naming the mirror,
# the file and why; an index out of step with its InRelease first of all.
unfetched() {
    failed='^E: Failed to fetch \(.*\)/\(dists/[^ ]*\)  '
    sed -n -e "s#${failed}\(Hash Sum mismatch\|File has unexpected size [^.]*\).*#the mirror \1 \
served \2, which does not match its InRelease (\3)#p" \
        -e "s#${failed}\(.*\)#the mirror \1 did not serve \2: \3#p"
}

# argument PATH: PATH, as a command reads it whatever its first character.
argument() {
    case $1 in -*) printf './%s\n' "$1" ;; *) printf '%s\n' "$1" ;; esac
}

# literal VALUE: VALUE for rpm's macros, which stands for itself there.
literal() {
    printf '%s\n' "$1" | sed 's/%/%%/g'
}

# settle DIR EPOCH: what DIR holds, as a packer should read it: folders
# 0755, files 0644 or 0755, whatever the umask, all with the time EPOCH.
settle() {
    chmod -R u+w,go-w,a+rX "$1"
    find "$1" -exec touch -h -d "@$2" {} +
}

# plain FILE: FILE is a file with no link on its path.
plain() {
    [ -f "$1" ] && [ "$(realpath "$1")" = "$(realpath -s "$1")" ] ||
        fail "$1 is not a file of packaging/site/publish"
}

# rpmbuild_at WORK EPOCH RECIPE [OPTION...]: rpmbuild -bb RECIPE in WORK,
# the same bytes whoever builds it: at EPOCH, with no build host, a gzip
# payload (which rpm 4.11 reads) and the format that every rpm reads
# (which rpm 6 does not write by default).
rpmbuild_at() {
    rpm_work=$1 rpm_epoch=$2 rpm_recipe=$3 && shift 3
    SOURCE_DATE_EPOCH=$rpm_epoch rpmbuild -bb --quiet --define "_topdir $rpm_work/rpm" \
        --define "_rpmdir $rpm_work" --define "_buildhost reproducible" \
        --define "use_source_date_epoch_as_buildtime 1" \
        --define "clamp_mtime_to_source_date_epoch 1" --define "_binary_payload w9.gzdio" \
        --define "_rpmformat 4" "$@" "$rpm_recipe"
}

# private_apt DIR [NAME VALUE...]: write DIR/apt.conf, for APT_CONFIG: apt
# with its state in DIR and its sources in DIR/sources, reading none of the
# machine's settings, and the settings NAME VALUE.
private_apt() {
    mkdir -p "$1/lists/partial" "$1/cache/archives/partial" "$1/none"
    apt_dir=$1 && shift
    printf '%s "%s";\n' Dir::Etc::Main /dev/null Dir::Etc::Parts "$apt_dir/none" \
        Dir::Etc::Preferences /dev/null Dir::Etc::PreferencesParts "$apt_dir/none" \
        Dir::Etc::Trusted /dev/null Dir::Etc::TrustedParts "$apt_dir/none" \
        Dir::Etc::SourceList "$apt_dir/sources" Dir::Etc::SourceParts "$apt_dir/none" \
        Dir::State::Lists "$apt_dir/lists" Dir::Cache "$apt_dir/cache" \
        APT::Sandbox::User "$(id -un)" Debug::NoLocking true "$@" >"$apt_dir/apt.conf"
}

# debian_apt DIR TYPE SUITE [ARCHIVE KEYRING]: private_apt DIR, its sources
# the TYPE (deb or deb-src) lines of the Debian release SUITE, its updates
# and its security updates, of ARCHIVE (by default deb.debian.org's), which
# holds debian/ and debian-security/, as KEYRING (by default Debian's) signs
# them. ARCHIVE and KEYRING are checked first.
debian_apt() {
    private_apt "$1"
    apt_keys=${5-}
    [ -n "$apt_keys" ] || for apt_keys in /usr/share/keyrings/debian-archive-keyring.pgp \
        /usr/share/keyrings/debian-archive-keyring.gpg ''; do [ ! -f "$apt_keys" ] || break; done
    [ -n "$apt_keys" ] ||
        fail "no /usr/share/keyrings/debian-archive-keyring.gpg: install debian-archive-keyring"
    case $apt_keys in /*[!A-Za-z0-9/._-]* | [!/]*)
        fail "the keyring $apt_keys must be an absolute path of letters, digits and / . _ -" ;;
    esac
    [ -f "$apt_keys" ] || fail "no keyring $apt_keys"
    apt_archive=${4:-http://deb.debian.org}
    [ "$(printf '%s\n' "$apt_archive" | wc -l)" -eq 1 ] && printf '%s\n' "$apt_archive" |
        grep -Eqx '(https?://[A-Za-z0-9.-]+(:[0-9]{1,5})?|file:)(/[A-Za-z0-9._~-]+)*' ||
        fail "the archive must be http://, https:// or file: and a plain path, not" \
            "'$(printf '%s' "$apt_archive" | cat -v)'"
    for at in "debian $3" "debian $3-updates" "debian-security $3-security"; do
        echo "$2 [signed-by=$apt_keys] $apt_archive/${at% *} ${at#* } main"
    done >"$1/sources"
}
