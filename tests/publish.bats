#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# What packaging/publish makes of a release, as the real clients see it
# through a web server on the loopback address: gpg, rpm, dnf, and apt in a
# fresh Debian root, each accepting the site as published and refusing it
# when tampered with. The release is this build's own packages; the keys
# are throwaway ones, made here. $SOURCE is the source tree, $BUILD a build
# of it, $VERSION its version.

setup_file() {
    cd "$BATS_FILE_TMPDIR" || return
    export GNUPGHOME=$BATS_FILE_TMPDIR/gnupg
    mkdir -m 700 "$GNUPGHOME"
    # The project's key and another, made before the release's date, and
    # one that expires in 30 days.
    KEY=$(key 'verdix <verdix@example.org>' 20200101T000000 20y)
    OTHER=$(key 'someone else <else@example.org>' 20200101T000000 20y)
    SHORT=$(key 'short-lived <short@example.org>' "$(date -u +%Y%m%dT%H%M%S)" 30d)
    export KEY OTHER SHORT
    # This build's packages and source tarball, with their SHA256SUMS.
    mkdir release
    cp "$BUILD"/packages/* "$BUILD/verdix-$VERSION.tar.gz" release/
    (cd release && sha256sum -- * >SHA256SUMS)
    # A web server on the loopback address, for the folder "sites": each
    # site that a test needs is published into a folder of its own there,
    # for its own address.
    mkdir sites
    python3 -u -m http.server --bind 127.0.0.1 --directory sites 0 >server.log 2>&1 &
    echo $! >server.pid
    for _ in {1..100}; do grep -q ' port ' server.log && break; sleep 0.1; done
    URL=http://127.0.0.1:$(sed -n 's/^Serving HTTP on .* port \([0-9]*\) .*/\1/p' server.log)
    export URL
    publish release site
}

# publish RELEASE SITE [KEY]: publish RELEASE into sites/SITE, for its own
# address, signed by KEY or else $KEY.
publish() {
    VERDIX_SIGNING_KEY=${3:-$KEY} "$SOURCE/packaging/publish" "$1" \
        "$BATS_FILE_TMPDIR/sites/$2" "$URL/$2"
}

teardown_file() {
    cd "$BATS_FILE_TMPDIR" && kill "$(cat server.pid)"
    gpgconf --kill all
}

# key NAME TIME EXPIRY: make a key at TIME, print its fingerprint.
key() {
    gpg --batch --quiet --passphrase '' --faked-system-time "$2" \
        --quick-gen-key "$1" ed25519 sign "$3" 2>/dev/null
    gpg --with-colons --list-keys "$1" | awk -F: '$1 == "fpr" { print $10; exit }'
}

# Each test works in a folder of its own; $site is the published site, and
# $release the release.
setup() {
    cd "$BATS_TEST_TMPDIR" || return
    deb=$(cd "$BUILD/packages" && echo *.deb) rpm=$(cd "$BUILD/packages" && echo *.rpm)
    sites=$BATS_FILE_TMPDIR/sites release=$BATS_FILE_TMPDIR/release
    site=$sites/site published=$sites/site/releases/$VERSION
}

@test "publish: the release as it is, the settings for this site, and the same bytes when published again" {
    for file in "$release"/*; do
        cmp "$file" "$published/${file##*/}"
    done
    printf '%s\n' 'Types: deb' "URIs: $URL/site/apt" 'Suites: stable' 'Components: main' \
        'Signed-By: /etc/apt/keyrings/verdix-archive-keyring.pgp' | diff - "$site/verdix.sources"
    printf '%s\n' '[verdix]' 'name=verdix' "baseurl=$URL/site/rpm" 'enabled=1' 'gpgcheck=1' \
        'repo_gpgcheck=1' "gpgkey=$URL/site/verdix.asc" | diff - "$site/verdix.repo"
    sleep 1
    VERDIX_SIGNING_KEY=$KEY "$SOURCE/packaging/publish" "$release" again "$URL/site"
    diff -r "$site" again
}

@test "gpg: the signatures of SHA256SUMS and the source verify, and not for a changed file" {
    keyring=$site/verdix-archive-keyring.pgp
    gpgv --keyring "$keyring" "$published/SHA256SUMS.asc" "$published/SHA256SUMS"
    gpgv --keyring "$keyring" "$published/verdix-$VERSION.tar.gz.asc" \
        "$published/verdix-$VERSION.tar.gz"
    sed 's/^./0/' "$published/SHA256SUMS" >changed
    ! gpgv --keyring "$keyring" "$published/SHA256SUMS.asc" changed 2>err || false
    grep -q 'BAD signature' err
}

@test "rpm: with the key imported, the signatures check, and not for a changed .rpm" {
    rpm --dbpath "$PWD/rpmdb" --import "$site/verdix.asc"
    rpm --dbpath "$PWD/rpmdb" -K "$site/rpm/$rpm" | grep -q ': digests signatures OK$'
    cp "$site/rpm/$rpm" changed.rpm
    printf 'x' | dd of=changed.rpm bs=1 seek=$(($(stat -c %s changed.rpm) - 100)) \
        conv=notrunc 2>/dev/null
    ! rpm --dbpath "$PWD/rpmdb" -K changed.rpm >out 2>&1 || false
    grep -q 'NOT OK' out
}

@test "dnf: with verdix.repo, lists verdix from the site, and refuses a changed repomd.xml" {
    publish "$release" tampered
    sed -i 's|<revision>|<revision>1|' "$sites/tampered/rpm/repodata/repomd.xml"
    for repo in site tampered; do
        mkdir "$repo"
        cp "$sites/$repo/verdix.repo" "$repo/"
        dnf -y --installroot="$PWD/$repo/root" --setopt=reposdir="$PWD/$repo" \
            --setopt=cachedir="$PWD/$repo/cache" --releasever=1 \
            list --available verdix >"$repo/out" 2>&1 || echo "failed" >>"$repo/out"
    done
    grep -q "^verdix\.[a-z0-9_]* *$VERSION-1 " site/out || { cat site/out >&2; false; }
    grep -q 'repomd.xml GPG signature verification error' tampered/out &&
        grep -qx failed tampered/out || { cat tampered/out >&2; false; }
}

@test "publish refuses a key that expires within 90 days, and a release whose checksums fail" {
    ! publish "$release" short "$SHORT" 2>err || false
    grep -q "the key $SHORT expires on $(date -u -d '+30 days' +%Y-%m-%d)" err
    cp -a "$release" broken
    printf 'x' >>"broken/$deb"
    ! publish broken unsure 2>err || false
    grep -q 'do not match SHA256SUMS' err
    [ ! -e "$sites/short" ] && [ ! -e "$sites/unsure" ]
}

@test "apt: in a fresh Debian root, refuses a changed .deb, a stranger's InRelease and no keyring; installs by the README's steps; upgrades to a newer release" {
    # The README's steps for Debian, for a site at $SITE.
    # shellcheck disable=SC2016 # expanded where the steps run
    awk '/^On Debian and Ubuntu/ { on = 1 } on && /^```$/ { exit }
        on > 1 { print } on && /^```sh$/ { on = 2 }' "$SOURCE/README.md" |
        sed 's|https://verdix.example.org|$SITE|g' >steps-all
    grep -q 'apt install verdix' steps-all
    grep -v 'curl.*keyring' steps-all >steps-without-keyring
    [ "$(wc -l <steps-without-keyring)" -eq $(($(wc -l <steps-all) - 1)) ]
    # The site with one byte of the .deb changed, and with InRelease signed
    # by another key; and a copy of the site once a newer release is
    # published into it.
    publish "$release" changed
    printf 'x' | dd of="$sites/changed/apt/pool/main/v/verdix/$deb" bs=1 seek=2000 \
        conv=notrunc 2>/dev/null
    publish "$release" stranger
    for signed in InRelease Release.gpg; do
        case $signed in InRelease) how=--clearsign ;; *) how='--armor --detach-sign' ;; esac
        # shellcheck disable=SC2086 # two words
        gpg --batch --yes --local-user "$OTHER!" $how \
            --output "$sites/stranger/apt/dists/stable/$signed" \
            "$sites/stranger/apt/dists/stable/Release"
    done
    newer
    publish "$release" upgraded
    publish newer upgraded
    # All of it, in a minimal Debian 12 root with curl and sudo, as a
    # user's machine would have them, which mmdebstrap makes as root or
    # through unprivileged user namespaces. Once installed, the user's
    # machine is pointed at the upgraded site.
    cat >script <<EOF
refused() {
    if SITE='$URL/'"\$1" sh -c ". /steps-\$2"; then echo "accepted: \$1" >&2; exit 1; fi
    if dpkg -s verdix >/dev/null 2>&1; then echo "installed: \$1" >&2; exit 1; fi
    rm -rf /etc/apt/sources.list.d/verdix.sources /etc/apt/keyrings/* \
        /var/lib/apt/lists/127.0.0.1*
}
refused site without-keyring
refused stranger all
refused changed all
SITE='$URL/site' sh -c '. /steps-all && printf A | verdix && printf C | verdix-static &&
    dpkg-query -W verdix' || { echo 'the README steps failed' >&2; exit 1; }
sed -i 's|/site/|/upgraded/|' /etc/apt/sources.list.d/verdix.sources
apt update && apt upgrade -y && dpkg-query -W verdix && printf B | verdix
EOF
    hooks=()
    for file in script steps-all steps-without-keyring; do
        hooks+=(--customize-hook="upload $PWD/$file /$file")
    done
    # (mmdebstrap 1.5 gives apt the first free file descriptor, which its
    # sh cannot name past 9, so it starts with the standard three alone.)
    (
        for fd in /proc/self/fd/*; do
            [ "${fd##*/}" -le 2 ] || eval "exec ${fd##*/}>&-"
        done
        mmdebstrap --variant=minbase --include=ca-certificates,curl,sudo \
            --aptopt='Acquire::Check-Valid-Until "false"' "${hooks[@]}" \
            --chrooted-customize-hook='sh /script </dev/null' bookworm /dev/null
    ) >apt.log 2>&1 || {
        cat apt.log >&2
        echo 'The steps above failed in a Debian root, or mmdebstrap could not make one:' \
            'it needs root, or unprivileged user namespaces with subordinate ids' \
            '(package uidmap, /etc/subuid).' >&2
        false
    }
    grep -q 'Amazing! A smart person! You have met expectations.' apt.log
    grep -q 'You need to study harder!At least you passed!' apt.log
    grep -q 'Hash Sum mismatch' apt.log
    grep -q "NO_PUBKEY\|not signed\|signatures couldn't be verified" apt.log
    grep -q "^verdix	$VERSION\.1$" apt.log
}

# newer: a release one version newer, in "newer": this build's .deb under
# the next version, and its source tarball with a changelog entry for it.
newer() {
    next=$VERSION.1
    mkdir -p newer unpacked
    dpkg-deb -R "$release/$deb" deb
    sed -i "s/^Version: .*/Version: $next/" deb/DEBIAN/control
    dpkg-deb --root-owner-group -b deb "newer/${deb/_${VERSION}_/_${next}_}" >/dev/null
    tar -C unpacked -xzf "$release/verdix-$VERSION.tar.gz"
    top=unpacked/verdix-$VERSION
    { printf 'verdix (%s) unstable; urgency=medium\n\n  * A newer release.\n\n' "$next"
        printf ' -- The verdix developers <verdix@example.org>  %s\n\n' "$(date -R)"
        cat "$top/changelog"; } >changelog
    mv changelog "$top/changelog"
    "$top/packaging/source" "$PWD/newer/verdix-$next.tar.gz" 0
    (cd newer && sha256sum -- * >SHA256SUMS)
}
