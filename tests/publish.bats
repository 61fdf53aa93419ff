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
    { cpack --config "$BUILD/CPackConfig.cmake" -B "$PWD/packed" &&
        cmake --build "$BUILD" --target source; } >pack.log 2>&1 ||
        { cat pack.log >&2; return 1; }
    while read -r _ name; do
        cp "packed/$name" release/ 2>/dev/null || cp "$BUILD/$name" release/
    done <"$BUILD/artefacts"
    (cd release && sha256sum -- * >SHA256SUMS)
    # A web server on the loopback address. It serves one of the folders
    # in "sites", the site as published at first, until a client asks for
    # /serve/NAME, which makes it serve sites/NAME instead.
    mkdir sites
    python3 -c 'import http.server, os, sys
class Handler(http.server.SimpleHTTPRequestHandler):
    served = os.path.abspath(sys.argv[1])
    def do_GET(self):
        if self.path.startswith("/serve/"):
            Handler.served = os.path.join(os.path.dirname(Handler.served), self.path[7:])
            self.send_response(204)
            self.end_headers()
        else:
            super().do_GET()
    def translate_path(self, path):
        self.directory = Handler.served
        return super().translate_path(path)
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
open(sys.argv[2], "w").write(str(server.server_port))
server.serve_forever()' sites/site port 2>server.log &
    echo $! >server.pid
    for _ in {1..100}; do [ -s port ] && break; sleep 0.1; done
    URL=http://127.0.0.1:$(cat port)
    export URL
    VERDIX_SIGNING_KEY=$KEY "$SOURCE/packaging/publish" release sites/site "$URL"
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
    deb=$(awk '$1 == "deb" { print $2 }' "$BUILD/artefacts")
    rpm=$(awk '$1 == "rpm" { print $2 }' "$BUILD/artefacts")
    sites=$BATS_FILE_TMPDIR/sites release=$BATS_FILE_TMPDIR/release
    site=$sites/site published=$sites/site/releases/$VERSION
}

# serve NAME: the web server serves $sites/NAME from now on.
serve() {
    exec {http}<>"/dev/tcp/127.0.0.1/${URL##*:}"
    printf 'GET /serve/%s HTTP/1.0\r\n\r\n' "$1" >&$http
    grep -q '^HTTP/1.0 204' <&$http
    exec {http}>&-
}

@test "publish: the release as it is, the settings for this site, and the same bytes when published again" {
    for file in "$release"/*; do
        cmp "$file" "$published/${file##*/}"
    done
    printf '%s\n' 'Types: deb' "URIs: $URL/apt" 'Suites: stable' 'Components: main' \
        'Signed-By: /etc/apt/keyrings/verdix-archive-keyring.pgp' | diff - "$site/verdix.sources"
    printf '%s\n' '[verdix]' 'name=verdix' "baseurl=$URL/rpm" 'enabled=1' 'gpgcheck=1' \
        'repo_gpgcheck=1' "gpgkey=$URL/verdix.asc" | diff - "$site/verdix.repo"
    sleep 1
    VERDIX_SIGNING_KEY=$KEY "$SOURCE/packaging/publish" "$release" again "$URL"
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
    mkdir repos
    cp "$site/verdix.repo" repos/
    dnf=(dnf -y --installroot="$PWD/dnfroot" --setopt=reposdir="$PWD/repos"
        --setopt=cachedir="$PWD/dnfcache" --releasever=1)
    "${dnf[@]}" list --available verdix >out 2>&1 || { cat out >&2; false; }
    grep -q "^verdix\.[a-z0-9_]* *$VERSION-1 " out
    cp -a "$site" "$sites/tampered"
    sed -i 's|<revision>|<revision>1|' "$sites/tampered/rpm/repodata/repomd.xml"
    serve tampered
    rm -rf dnfroot dnfcache
    ! "${dnf[@]}" list --available verdix >out 2>&1 || false
    serve site
    grep -q 'repomd.xml GPG signature verification error' out || { cat out >&2; false; }
}

@test "publish refuses a key that expires within 90 days, and a release whose checksums fail" {
    ! VERDIX_SIGNING_KEY=$SHORT "$SOURCE/packaging/publish" "$release" short "$URL" 2>err || false
    grep -q "the key $SHORT expires on $(date -u -d '+30 days' +%Y-%m-%d)" err
    cp -a "$release" broken
    printf 'x' >>"broken/$deb"
    ! VERDIX_SIGNING_KEY=$KEY "$SOURCE/packaging/publish" broken unsure "$URL" 2>err || false
    grep -q 'do not match SHA256SUMS' err
    [ ! -e short ] && [ ! -e unsure ]
}

@test "apt: in a fresh Debian root, refuses a changed .deb, a stranger's InRelease and no keyring; installs by the README's steps; upgrades to a newer release" {
    # The README's steps for Debian, for this site.
    awk '/^On Debian and Ubuntu:/ { on = 1 } on && /^```$/ { exit }
        on > 1 { print } on && /^```sh$/ { on = 2 }' "$SOURCE/README.md" |
        sed "s|https://verdix.example.org|$URL|g" >steps-all
    grep -q 'apt install verdix' steps-all
    grep -v 'curl.*keyring' steps-all >steps-without-keyring
    [ "$(wc -l <steps-without-keyring)" -eq $(($(wc -l <steps-all) - 1)) ]
    # The same site with one byte of the .deb changed, and with InRelease
    # signed by another key; and the site once a newer release is
    # published into it.
    cp -a "$site" "$sites/changed"
    printf 'x' | dd of="$sites/changed/apt/pool/main/v/verdix/$deb" bs=1 seek=2000 \
        conv=notrunc 2>/dev/null
    cp -a "$site" "$sites/stranger"
    for signed in InRelease Release.gpg; do
        case $signed in InRelease) how=--clearsign ;; *) how='--armor --detach-sign' ;; esac
        # shellcheck disable=SC2086 # two words
        gpg --batch --yes --local-user "$OTHER!" $how \
            --output "$sites/stranger/apt/dists/stable/$signed" \
            "$sites/stranger/apt/dists/stable/Release"
    done
    newer
    cp -a "$site" "$sites/upgraded"
    VERDIX_SIGNING_KEY=$KEY "$SOURCE/packaging/publish" newer "$sites/upgraded" "$URL"
    # All of it, in a minimal Debian 12 root with curl and sudo, as a
    # user's machine would have them, which mmdebstrap makes as root or
    # through unprivileged user namespaces. Each case asks the web server
    # for the site it needs.
    cat >script <<EOF
refused() {
    curl -fsS '$URL/serve/'"\$1"
    if sh -c ". /steps-\$2"; then echo "accepted: \$1" >&2; exit 1; fi
    if dpkg -s verdix >/dev/null 2>&1; then echo "installed: \$1" >&2; exit 1; fi
    rm -rf /etc/apt/sources.list.d/verdix.sources /etc/apt/keyrings/* \
        /var/lib/apt/lists/127.0.0.1*
}
refused site without-keyring
refused stranger all
refused changed all
curl -fsS '$URL/serve/site'
sh -c '. /steps-all && printf A | verdix && printf C | verdix-static &&
    dpkg-query -W verdix' || { echo 'the README steps failed' >&2; exit 1; }
curl -fsS '$URL/serve/upgraded'
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
        serve site
        cat apt.log >&2
        echo 'The steps above failed in a Debian root, or mmdebstrap could not make one:' \
            'it needs root, or unprivileged user namespaces with subordinate ids' \
            '(package uidmap, /etc/subuid).' >&2
        false
    }
    serve site
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
