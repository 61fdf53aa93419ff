#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# The sites that packaging/site/publish makes, as apt and dnf see them in
# fresh Debian roots, 12 (bookworm) and 13 (trixie), through a web server on
# the loopback address: refusing a site without its keyring or tampered
# with; installing verdix by the README's steps, then each machine's
# package, which runs there; and upgrading through a change of keys. The
# roots are made once, in setup_file, and tests/roots/client runs in each;
# each test reads in their logs what it did. $RELEASE is a whole release
# that packaging/release/make-release made of the source tree $SOURCE, whose
# version is $VERSION; the keys are throwaway ones, made here.

load release
load publish

setup_file() {
    serve || return
    # The project's next key, and someone else's.
    NEXT=$(key 'verdix next <next@example.org>' 20200101T000000 20y)
    OTHER=$(key 'someone else <else@example.org>' 20200101T000000 20y)
    export NEXT OTHER
    publish "$release" site
    tampered
    rotation
    # The files that the roots are given, in "roots".
    mkdir roots && cp "$SOURCE/tests/roots/client" "$SOURCE/tests/roots/no-security" \
        "$SOURCE/packaging/facts/architectures" roots/
    (cd roots && readme && libc)
    roots
}

# tampered: the sites "changed", with one byte of the .deb changed, and
# "stranger", with InRelease and Release.gpg signed by another key.
tampered() {
    publish "$release" changed
    printf 'x' | dd of="$sites/changed/apt/pool/main/v/verdix/$deb" bs=1 seek=2000 \
        conv=notrunc 2>/dev/null
    publish "$release" stranger
    dists=$sites/stranger/apt/dists/stable
    gpg --batch --yes --local-user "$OTHER!" --clearsign --output "$dists/InRelease" \
        "$dists/Release"
    gpg --batch --yes --local-user "$OTHER!" --armor --detach-sign --output "$dists/Release.gpg" \
        "$dists/Release"
}

# rotation: the site at $URL/rotation in three steps, each in
# sites/rotation-STEP: the release signed by $KEY; a newer one signed by
# $KEY and $NEXT; a newer still signed by $NEXT alone.
rotation() {
    publish "$release" staged "" rotation
    cp -rL "$sites/staged" "$sites/rotation-1"
    newer "$VERSION.1" newer-1 '-2 minutes'
    publish newer-1 staged "$KEY $NEXT" rotation
    cp -rL "$sites/staged" "$sites/rotation-2"
    newer "$VERSION.2" newer-2 '-1 minute'
    publish newer-2 staged "$NEXT" rotation
    cp -rL "$sites/staged" "$sites/rotation-3"
}

# readme: the README's steps for Debian, in steps-all, and without its
# keyring, in steps-without-keyring; and for dnf, which, outside Fedora,
# needs its release named, in steps-Fedora; each for a site at $SITE.
readme() {
    for system in Debian Fedora; do
        # shellcheck disable=SC2016 # expanded where the steps run
        awk -v os="$system" '$0 ~ "^On " os { on = 1 } on && /^```$/ { exit }
            on > 1 { print } on && /^```sh$/ { on = 2 }' "$SOURCE/README.md" |
            sed 's|https://verdix.example.org|$SITE|g; s|^sudo dnf|sudo dnf -y --releasever=1|' \
                >"steps-$system"
    done
    mv steps-Debian steps-all
    grep -v 'keyring' steps-all >steps-without-keyring
}

# libc: libc.rpm, a package that stands in for the C library, for rpm in a
# Debian root.
libc() {
    provides=$(rpm -qp --requires - <"$release/$rpm" | grep -v '^rpmlib(' | paste -sd ,)
    printf '%s\n' 'Name: libc' 'Version: 1' 'Release: 1' \
        'Summary: What verdix needs of the C library' 'License: MIT' "Provides: $provides" \
        '%description' '%files' >libc.rpmbuild
    rpmbuild -bb --quiet --define "_topdir $PWD/rpmbuild" --define "_rpmdir $PWD" \
        --define '_rpmformat 4' --define '_build_name_fmt libc.rpm' libc.rpmbuild >/dev/null
}

# roots: both roots at once, each logging to apt-SUITE.log and writing its
# status to status-SUITE; the site "rotation" moves on to each step once
# both ask for it (Debian 12's apt checks signatures with gpgv, Debian 13's
# with sqv).
roots() {
    ln -sfn rotation-1 "$sites/rotation"
    (
        for step in 2 3; do
            until grep -q "GET /bookworm-$step " server.log &&
                grep -q "GET /trixie-$step " server.log; do sleep 0.2; done
            ln -sfn "rotation-$step" "$sites/rotation.new" &&
                mv -T "$sites/rotation.new" "$sites/rotation"
        done
    ) >/dev/null 2>&1 3>&- &
    steps=$! pids=()
    for suite in bookworm trixie; do
        root "$suite" >"apt-$suite.log" 2>&1 3>&- &
        pids+=("$suite:$!")
    done
    for pid in "${pids[@]}"; do
        status=0 && wait "${pid#*:}" || status=$?
        echo "$status" >"status-${pid%:*}"
    done
    kill "$steps" 2>/dev/null || true
}

# root SUITE: in a minimal Debian root of SUITE, which mmdebstrap makes as
# root or through unprivileged user namespaces, with curl and sudo, as a
# user's machine would have them, and of qemu-user-static the emulators of
# the table alone (Debian 12's with dnf and rpm too, and without its
# security archive: tests/roots/no-security), tests/roots/client.
root() (
    cd roots || exit
    include=ca-certificates,curl,sudo,qemu-user-static
    options=(--dpkgopt='path-exclude=/usr/bin/qemu-*')
    for emulator in $(machines | awk '{ print $5 }'); do
        options+=("--dpkgopt=path-include=/usr/bin/qemu-$emulator*")
    done
    if [ "$1" = bookworm ]; then
        include+=,dnf,rpm,rpm2cpio options+=(--setup-hook="$PWD/no-security")
    fi
    for file in client architectures libc.rpm steps-all steps-without-keyring steps-Fedora; do
        options+=(--customize-hook="upload $file /$file")
    done
    # (mmdebstrap 1.5 gives apt the first free file descriptor, which its
    # sh cannot name past 9.)
    for fd in /proc/self/fd/*; do
        [ "${fd##*/}" -le 2 ] || eval "exec ${fd##*/}>&-"
    done
    options+=(--chrooted-customize-hook="sh /client $1 $URL $VERSION /architectures </dev/null")
    mmdebstrap --variant=minbase --include="$include" \
        --aptopt='Acquire::Check-Valid-Until "false"' --dpkgopt='path-exclude=/usr/share/doc/*' \
        "${options[@]}" "$1" /dev/null
)

# in_roots CHECK: CHECK SUITE holds in each root, whose log is $log; else
# the log, and what mmdebstrap needs.
in_roots() {
    for suite in bookworm trixie; do
        log=$BATS_FILE_TMPDIR/apt-$suite.log
        "$1" "$suite" || {
            cat "$log" >&2
            echo "The steps above failed in a Debian root ($suite), or mmdebstrap could" \
                'not make one: it needs root, or unprivileged user namespaces with' \
                'subordinate ids (package uidmap, /etc/subuid).' >&2
            return 1
        }
    done
}

@test "apt, in fresh Debian roots, refuses a site without its keyring, one whose InRelease a stranger signed, and a changed .deb" {
    given=$BATS_FILE_TMPDIR/roots
    [ "$(wc -l <"$given/steps-without-keyring")" -eq $(($(wc -l <"$given/steps-all") - 1)) ]
    in_roots refusing
}

refusing() {
    grep -qx 'refused: site, by /steps-without-keyring' "$log" &&
        grep -qx 'refused: stranger, by /steps-all' "$log" &&
        grep -qx 'refused: changed, by /steps-all' "$log" &&
        grep -q 'Hash Sum mismatch' "$log" &&
        grep -q "NO_PUBKEY\|not signed\|signatures couldn't be verified\|Missing key" "$log"
}

@test "apt, in fresh Debian roots, installs by the README's steps, then each machine's package, and runs it" {
    grep -q 'apt install verdix' "$BATS_FILE_TMPDIR/roots/steps-all"
    in_roots installing
}

installing() {
    grep -qx 'installed by the README steps: verdix' "$log" &&
        grep -q 'Amazing! A smart person! You have met expectations.' "$log" &&
        grep -q 'You need to study harder!At least you passed!' "$log" || return
    for deb in $(machines | awk '{ print $2 }'); do
        grep -qx "answered: verdix:$deb" "$log" || return
    done
}

@test "dnf, in a fresh Debian 12 root, installs by the README's steps; rpm takes each other machine's package, which runs" {
    [ "$(grep -c 'sudo dnf' "$BATS_FILE_TMPDIR/roots/steps-Fedora")" -eq 2 ]
    in_roots dnf_installing
}

dnf_installing() {
    [ "$1" = bookworm ] || return 0
    grep -qx 'installed with dnf by the README steps: verdix' "$log" || return
    machines | while read -r _ deb rpm _; do
        [ "$deb" = "$(dpkg --print-architecture)" ] ||
            grep -qx "answered: the .rpm for $rpm" "$log" || return
    done
}

@test "apt and dnf, in the same roots, upgrade through a change of keys, saying no more than when all is well" {
    in_roots upgrading
}

upgrading() {
    for step in 2 3; do
        keyring=$(sha256sum <"$sites/rotation-$step/verdix-archive-keyring.pgp" | cut -c 1-64)
        grep -qx "upgraded: verdix $VERSION.$((step - 1)), keyring $keyring" "$log" || return
    done
    { [ "$1" != bookworm ] || grep -q "^upgraded with dnf: verdix $VERSION\.2$" "$log"; } &&
        [ "$(cat "$BATS_FILE_TMPDIR/status-$1")" -eq 0 ]
}
