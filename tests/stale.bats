#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# packaging/site/stale on a site that publish made of $RELEASE, against a
# Debian archive of the suite's own in a folder, signed by a throwaway key:
# "current" when the archive's newest glibc is the one in verdix-static,
# "stale" when the archive has a newer one, and "cannot tell" (exit 2) when
# an index does not match its InRelease, a version is none that dpkg reads,
# the release's signature is not one that publish takes, the archive has
# only an older glibc, or the answer cannot be written. The archive's
# InRelease calls it Debian 99.

load release
load publish

setup_file() {
    serve && publish "$release" site
    # The release's glibc and Debian release, as the packages and the
    # .buildinfo give them.
    GLIBC=$(dpkg-deb --field "$release/$deb" Built-Using | sed -n 's/^glibc (= \(.*\))$/\1/p')
    "$SOURCE/packaging/site/check-release" "$release" facts
    SUITE=$(sed -n 's/^suite=//p' facts)
    ARCHIVE_KEY=$(key 'archive <archive@example.org>' 20200101T000000 20y)
    gpg --export "$ARCHIVE_KEY" >"$BATS_FILE_TMPDIR/archive.pgp"
    export GLIBC SUITE ARCHIVE_KEY
}

# dsc VERSION: a source package glibc VERSION, of nothing, in sources/.
dsc() {
    up=${1%-*}
    mkdir -p "glibc-$up"
    [ -f "sources/glibc_$up.orig.tar.gz" ] || tar -czf "sources/glibc_$up.orig.tar.gz" "glibc-$up"
    mkdir -p "glibc-$up/debian/source"
    echo '3.0 (quilt)' >"glibc-$up/debian/source/format"
    printf '%s\n' 'Source: glibc' 'Maintainer: Test <test@example.org>' '' 'Package: libc6' \
        'Architecture: any' 'Description: a test' ' of nothing' >"glibc-$up/debian/control"
    printf 'glibc (%s) %s; urgency=medium\n\n  * A test.\n\n -- Test <test@example.org>  %s\n' \
        "$1" "$SUITE" 'Thu, 01 Jan 2026 00:00:00 +0000' >"glibc-$up/debian/changelog"
    (cd sources && dpkg-source -q -b "../glibc-$up" 2>/dev/null)
    rm -r "glibc-$up"
}

# suite ARCHIVE NAME VERSION...: the suite NAME of ARCHIVE lists the sources
# of glibc VERSION..., signed with the archive's key.
suite() {
    rm -rf sources && mkdir sources
    for version in "${@:3}"; do dsc "$version"; done
    dists=$1/dists/$2
    mkdir -p "$dists/main/source"
    apt-ftparchive sources sources >"$dists/main/source/Sources" 2>/dev/null
    signed "$dists"
}

# signed DISTS: the suite at DISTS signed anew, as the Debian release 99.
signed() {
    apt-ftparchive -o APT::FTPArchive::Release::Suite="${1##*/}" \
        -o APT::FTPArchive::Release::Codename="${1##*/}" \
        -o APT::FTPArchive::Release::Version=99.1 \
        -o APT::FTPArchive::Release::Components=main release "$1" >"$1/Release"
    gpg --homedir "$BATS_FILE_TMPDIR/gnupg" --batch --yes --local-user "$ARCHIVE_KEY" \
        --clearsign -o "$1/InRelease" "$1/Release"
}

# archive RELEASE UPDATES SECURITY: the archive "archive", whose suites
# list glibc of the versions in each word, a version a word.
archive() {
    rm -rf archive
    # shellcheck disable=SC2086 # a version a word
    suite archive/debian "$SUITE" $1 && suite archive/debian "$SUITE-updates" $2 &&
        suite archive/debian-security "$SUITE-security" $3
}

# stale [OUT]: packaging/site/stale on the site "site", with the archive,
# as the maintainer, or with the key $signer, and the earlier keys $earlier;
# its status, and what it said to OUT (by default the file out) and to
# standard error, in the file err.
stale() {
    status=0
    VERDIX_SIGNING_KEY=${signer:-$KEY} VERDIX_EARLIER_KEYS=${earlier-} \
        "$SOURCE/packaging/site/stale" "$site" "file:$PWD/archive" \
        "$BATS_FILE_TMPDIR/archive.pgp" >"${1:-out}" 2>err || status=$?
}

# answers STATUS SAID RELEASE UPDATES SECURITY: with the archive whose
# suites list those versions of glibc, then changed by the function $change
# if it is set, stale exits STATUS and says SAID: on standard output; or
# last on standard error, if it cannot tell (a SAID that begins with a line
# end is the last line, after what the tools it ran said).
answers() {
    archive "$3" "$4" "$5"
    [ -z "${change-}" ] || "$change"
    stale
    said=out quiet=err
    [ "$1" -ne 2 ] || said=err quiet=out
    [ "$status" -eq "$1" ] && [[ $(cat "$said") == *"$2" ]] && [ ! -s "$quiet" ] &&
        { [ "$1" -eq 2 ] || [ "$(cat out)" = "$2" ]; } || {
        printf 'exit %s, said:\n' "$status" >&2 && cat out err >&2
        return 1
    }
}

@test "stale: current, or stale by an update or by a security update" {
    older=$GLIBC~1 newer=$GLIBC.1
    answers 0 "current: glibc $GLIBC" "$older $GLIBC" "$older" "$older"
    # (The public key of publish's is enough.)
    mkdir -m 700 public && gpg --export "$KEY" | GNUPGHOME=$PWD/public gpg --batch -q --import
    GNUPGHOME=$PWD/public answers 0 "current: glibc $GLIBC" "$GLIBC" "$GLIBC" "$GLIBC"
    # (A key may be both the signing key and an earlier one, as in a rotation.)
    earlier=$KEY answers 0 "current: glibc $GLIBC" "$GLIBC" "$GLIBC" "$GLIBC"
    stale="stale: verdix-static in $VERSION carries glibc $GLIBC; Debian 99 now has $newer"
    answers 1 "$stale" "$GLIBC" "$newer" "$older"
    answers 1 "$stale" "$GLIBC" "$GLIBC" "$older $newer"
}

# out_of_step: the security suite's index, changed after it was signed.
out_of_step() {
    echo ' ' >>"archive/debian-security/dists/$SUITE-security/main/source/Sources"
}

# unreadable: the security suite lists a version that dpkg does not read,
# signed.
unreadable() {
    local dists=archive/debian-security/dists/$SUITE-security
    sed -i 's/^Version: .*/Version: 2.36-9 x/' "$dists/main/source/Sources"
    signed "$dists"
}

@test "stale: cannot tell, and why: an index out of step, a release refused, an older glibc" {
    older=$GLIBC~1
    change=out_of_step
    answers 2 "the mirror file:$PWD/archive/debian-security served dists/$SUITE-security/main/\
source/Sources, which does not match its InRelease (Hash Sum mismatch)
packaging/site/stale: apt could not read Debian $SUITE whole, with its updates and security \
updates" "$GLIBC" "$GLIBC" "$GLIBC"
    change=unreadable
    answers 2 "packaging/site/stale: Debian $SUITE lists glibc 2.36-9 x, which is not a version" \
        "$GLIBC" "$GLIBC" "$GLIBC"
    change=
    answers 2 "packaging/site/stale: Debian 99 lists no glibc newer than $older, which is older \
than the glibc $GLIBC that verdix $VERSION carries" "$older" "$older" "$older"
    signer=$(key 'stranger <stranger@example.org>' 20200101T000000 20y)
    answers 2 "
packaging/site/stale: $site/releases/$VERSION: its SHA256SUMS.asc is not one that publish takes" \
        "$GLIBC" "$GLIBC" "$GLIBC"
    # An answer that cannot be written is none, "current" or "stale".
    signer=
    for newer in "$GLIBC" "$GLIBC.1"; do
        archive "$GLIBC" "$GLIBC" "$newer"
        stale /dev/full
        [ "$status" -eq 2 ] || { cat err >&2 && false; }
    done
}
