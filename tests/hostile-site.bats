#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# A hostile web host and other local users, against packaging/site/publish
# of $RELEASE, a release that packaging/release/make-release made of the
# source tree $SOURCE at $VERSION: publish refuses what it was not told to
# trust, and what it does not own, naming the cause; the site stays as it
# was. A hostile command would make the file "escaped" in the test's
# folder: that it is not there is the oracle. The keys are throwaway ones.

load release

setup() {
    cd "$BATS_TEST_TMPDIR" || return
    deb=verdix_${VERSION}_$(dpkg --print-architecture).deb info=verdix_$VERSION.buildinfo mark=$PWD/escaped
    export GNUPGHOME=$PWD/gnupg
    mkdir -m 700 gnupg
}

# (A lock that a test holds ends with it.)
teardown() {
    cd "$BATS_TEST_TMPDIR" && gpgconf --kill all || :
    [ -z "${holders+set}" ] || kill "${holders[@]}" 2>/dev/null || :
}

# key NAME TIME EXPIRY: make a key at TIME that lasts EXPIRY; print its
# fingerprint.
key() {
    gpg --batch --quiet --passphrase '' --faked-system-time "$2" \
        --quick-gen-key "$1" ed25519 sign "$3" 2>/dev/null
    gpg --with-colons --list-keys "$1" | awk -F: '$1 == "fpr" { print $10; exit }'
}

# signing: make the project's key, and sign with it.
signing() {
    VERDIX_SIGNING_KEY=$(key 'verdix <verdix@example.org>' 20200101T000000 20y)
    export VERDIX_SIGNING_KEY
}

# publish SITE: publish $RELEASE into SITE, within five minutes (a busy machine
# takes more than one).
publish() {
    timeout -k 10 300 "$SOURCE/packaging/site/publish" "$RELEASE" "$1" http://127.0.0.1/site
}

# state SITE: SITE as its clients see it, a file a line.
state() {
    find -L "$1" -type f -exec sha256sum {} + | sort
}

# older VERSION FOLDER: a release of VERSION in FOLDER, dated 1 March 2020:
# this machine's .deb of $RELEASE under that version, its .buildinfo, and
# its source tarball with a changelog entry for it.
older() {
    mkdir -p "$2" unpacked
    dpkg-deb -R "$RELEASE/$deb" deb && sed -i "s/^Version: .*/Version: $1/" deb/DEBIAN/control
    dpkg-deb --root-owner-group -b deb "$2/${deb/_${VERSION}_/_${1}_}" >/dev/null && rm -r deb
    sed "s/^Version: .*/Version: $1/" "$RELEASE/$info" >"$2/verdix_$1.buildinfo"
    tar -C unpacked -xzf "$RELEASE/verdix-$VERSION.tar.gz"
    top=unpacked/verdix-$VERSION
    { printf 'verdix (%s) unstable; urgency=medium\n\n  * An earlier release.\n\n' "$1"
        printf ' -- The verdix developers <verdix@example.org>  %s\n\n' "$(date -R -d 2020-03-01)"
        cat "$top/changelog"; } >changelog
    mv changelog "$top/changelog"
    "$top/packaging/release/source-tarball" "$PWD/$2/verdix-$1.tar.gz" 0
    recorded "$2" "$1" && rm -r unpacked
}

@test "publish carries an earlier release only if a key that it is told to trust signed it: one of VERDIX_SIGNING_KEY, or of VERDIX_EARLIER_KEYS before that key expired, and none revoked; else the site stays as it was" {
    KEY=$(key 'verdix <verdix@example.org>' 20200101T000000 20y)
    PERSONAL=$(key 'me <me@example.org>' 20200101T000000 20y)
    gpg --batch --quiet --passphrase '' --quick-add-key "$PERSONAL" ed25519 sign 20y
    SUBKEY=$(gpg --with-colons --list-keys "$PERSONAL" | awk -F: '$1 == "fpr" { print $10 }' | tail -n 1)
    # The next key, made now, which moves the site's time on; an earlier
    # key, which signs in 2020 and 2021 and is then made to have expired at
    # the end of 2020; and one that expired then, and was revoked.
    NEXT=$(key 'verdix next <next@example.org>' "$(date -u +%Y%m%dT%H%M%S)" 20y)
    EARLIER=$(key 'earlier <earlier@example.org>' 20200101T000000 20y)
    REVOKED=$(key 'revoked <revoked@example.org>' 20200101T000000 1y)
    older 0.1 older
    mkdir signatures
    while IFS='|' read -r name signer at; do
        gpg --batch --quiet --local-user "$signer!" --faked-system-time "$at" --armor \
            --detach-sign -o "signatures/$name" older/SHA256SUMS 2>/dev/null
    done <<TABLE
key|$KEY|20200601T000000
personal|$PERSONAL|20200601T000000
in-time|$EARLIER|20200601T000000
late|$EARLIER|20210601T000000
revoked|$REVOKED|20200601T000000
TABLE
    gpg --batch --quiet --faked-system-time 20200301T000000 \
        --quick-set-expire "$EARLIER" 2020-12-31 2>/dev/null
    sed 's/^:-----/-----/' "$GNUPGHOME/openpgp-revocs.d/$REVOKED.rev" | gpg --batch --quiet --import
    mkdir base && VERDIX_SIGNING_KEY=$KEY publish base/site
    # In a copy of that site, each row puts a release in releases/0.1,
    # PUT (a copy of "older" with one of the signatures above, or the
    # release of the site), and changes it by TAMPER.
    while IFS='|' read -r outcome keys earlier message put tamper; do
        rm -rf row && cp -a base row && releases=$(readlink -f row/site)/releases
        case $put in
        "$VERSION") cp -R "$releases/$VERSION" "$releases/0.1" ;;
        *) cp -R older "$releases/0.1" && cp "signatures/$put" "$releases/0.1/SHA256SUMS.asc" ;;
        esac
        (cd "$releases/0.1" && eval "$tamper")
        was=$(state row/site) status=0
        VERDIX_SIGNING_KEY=$keys VERDIX_EARLIER_KEYS=$earlier publish row/site >out 2>&1 ||
            status=$?
        if [ "$outcome" = refused ]; then
            [ "$status" -eq 1 ] && grep -qF -- "$message" out && [ "$(state row/site)" = "$was" ]
        else
            # Carried, and signed anew by the site's keys, whose word, if it
            # is an expired key's, is named.
            releases=$(readlink -f row/site)/releases
            [ "$status" -eq 0 ] && cmp older/SHA256SUMS "$releases/0.1/SHA256SUMS" &&
                gpgv --keyring row/site/verdix-archive-keyring.pgp "$releases/0.1/SHA256SUMS.asc" \
                    "$releases/0.1/SHA256SUMS" 2>/dev/null &&
                { [ -z "$message" ] || grep -qxF -- "$message" out; } &&
                { [ -n "$message" ] || ! grep -q 'on the word' out; }
        fi && [ ! -e "$mark" ] || { echo "$outcome: $message" >&2 && cat out >&2 && false; }
    done <<TABLE
refused|$KEY||is not the release verdix 0.1|$VERSION|:
refused|$KEY||a signature in it does not verify|key|sed -i '/^Build-Architecture:/a\\ i386";};APT::Update::Pre-Invoke{"touch $mark";};' verdix_0.1.buildinfo && sha256sum -- verdix* >SHA256SUMS
refused|$KEY||must be plain files, a signature and what it signs|key|rm SHA256SUMS.asc
refused|$KEY||no key that VERDIX_SIGNING_KEY or VERDIX_EARLIER_KEYS names signed it|personal|:
refused|$KEY|$EARLIER|it is signed by the key $EARLIER after the key expired|late|:
carried|$KEY|$EARLIER|packaging/site/publish: carried releases/0.1 on the word of the expired key $EARLIER, named in VERDIX_EARLIER_KEYS|in-time|:
refused|$KEY|$REVOKED|it is signed by the revoked key $REVOKED|revoked|:
refused|$NEXT||no key that VERDIX_SIGNING_KEY or VERDIX_EARLIER_KEYS names signed it|key|:
refused|$KEY|${EARLIER:1}|VERDIX_EARLIER_KEYS: '${EARLIER:1}' is not a full fingerprint|key|:
refused|$KEY|$EARLIER ${EARLIER,,}|VERDIX_EARLIER_KEYS names $EARLIER twice|key|:
refused|$KEY|$SUBKEY|VERDIX_EARLIER_KEYS: $SUBKEY is not the fingerprint of a primary key|key|:
carried|$NEXT|$KEY||key|:
TABLE
    # A web host that changes every tree but the live one while publish
    # signs gets none of its bytes signed.
    mkdir tamper && cat >tamper/gpg <<EOF
#!/bin/sh
live=\$(readlink -f $PWD/base/site)
for deb in \$(find $PWD/base/site.trees -path "*/releases/*.deb" ! -path "\$live/*"); do
    printf x >>"\$deb"
done
exec $(command -v gpg) "\$@"
EOF
    chmod +x tamper/gpg
    PATH=$PWD/tamper:$PATH VERDIX_SIGNING_KEY=$KEY publish base/site
    cmp "$RELEASE/$deb" "base/site/apt/pool/main/v/verdix/$deb"
}

@test "publish refuses a SITE.trees that others can write to, or on another file system than SITE's folder, before it makes anything" {
    signing
    # elsewhere DIR COMMAND...: run COMMAND with a file system of its own
    # on DIR, in a mount namespace of its own (and, unless root, a user
    # namespace).
    elsewhere() {
        namespace=-rm && [ "$(id -u)" -ne 0 ] || namespace=-m
        unshare "$namespace" sh -c 'mount -t tmpfs -o mode=0755 tmpfs "$1" && shift && exec "$@"' \
            sh "$@"
    }
    here=$(pwd -P)
    while IFS='|' read -r message make within; do
        rm -rf fresh.trees && eval "$make"
        ! $within timeout -k 10 300 "$SOURCE/packaging/site/publish" "$RELEASE" fresh \
            http://127.0.0.1/site 2>err || false
        grep -qF -- "$message" err && [ ! -e fresh ] && [ ! -L fresh ] &&
            [ -z "$(ls -A fresh.trees)" ] || { echo "$message" >&2 && cat err >&2 && false; }
    done <<TABLE
$here/fresh.trees must be owned by $(id -un) and writable by no one else|mkdir -m 775 fresh.trees|
$here/fresh.trees must be owned by $(id -un) and writable by no one else|mkdir -m 757 fresh.trees|
$here/fresh.trees must be on the file system of $here|mkdir -m 755 fresh.trees|elsewhere fresh.trees
TABLE
}

@test "publish makes SITE.trees the caller's alone and its lock private, whatever the umask; a lock that another process holds on SITE.trees blocks no publish" {
    signing
    (umask 002 && publish site)
    [ "$(stat -c '%a %U %n' site.trees site.trees/.lock)" = "755 $(id -un) site.trees
700 $(id -un) site.trees/.lock" ]
    # (Where publish used to take its lock.)
    flock -F site.trees sleep 120 3>&- &
    holders=($!)
    for _ in $(seq 100); do flock -n site.trees true || break; sleep 0.1; done
    ! flock -n site.trees true || false
    publish site
}

@test "as root: publish refuses a SITE.trees of another user's, and no lock that another user takes on what it can of SITE.trees blocks publish" {
    [ "$(id -u)" -eq 0 ] || skip "only root can act as another user"
    signing
    # A user id of no user, and the test's folders open to it, as the site
    # is to the web server.
    other=4242 && while getent passwd "$other" >/dev/null; do other=$((other + 1)); done
    dir=$BATS_TEST_TMPDIR
    until chmod o+x "$dir" && [ "$dir" = "$BATS_RUN_TMPDIR" ]; do dir=${dir%/*}; done
    as_other=(setpriv --reuid="$other" --regid="$other" --clear-groups)
    mkdir -m 755 fresh.trees && chown "$other:$other" fresh.trees
    ! publish fresh 2>err || false
    grep -qF "$(pwd -P)/fresh.trees must be owned by root and writable by no one else" err &&
        [ ! -e fresh ] && [ -z "$(ls -A fresh.trees)" ] || { cat err >&2 && false; }
    publish site
    "${as_other[@]}" cat site/verdix.asc >/dev/null
    # Another user locks all that it can open of SITE.trees: the folder
    # itself, where publish used to take its lock, at least.
    holders=()
    while IFS= read -r path; do
        "${as_other[@]}" flock -F "$path" sh -c 'echo held && exec sleep 120' \
            >"held.${#holders[@]}" 2>&1 3>&- </dev/null &
        holders+=($!)
    done < <(find site.trees -maxdepth 2)
    for i in "${!holders[@]}"; do
        for _ in $(seq 100); do
            ! kill -0 "${holders[i]}" 2>/dev/null || grep -qx held "held.$i" && break
            sleep 0.1
        done
    done
    grep -qx held held.0
    publish site
}

@test "publish refuses a live tree that holds a FIFO, in an earlier release or as a file of the release published again, at once, naming it; the site stays as it was" {
    signing
    mkdir base && publish base/site
    while IFS='|' read -r path make; do
        rm -rf row && cp -a base row && tree=$(readlink -f row/site)
        (cd "$tree/releases" && eval "$make")
        was=$(state row/site) status=0
        publish row/site 2>err || status=$?
        [ "$status" -eq 1 ] && grep -qF "$tree/$path is not a file of a site" err &&
            [ "$(state row/site)" = "$was" ] ||
                { echo "$path: $status" >&2 && cat err >&2 && false; }
    done <<TABLE
releases/0.1/SHA256SUMS|cp -R $VERSION 0.1 && rm 0.1/SHA256SUMS && mkfifo 0.1/SHA256SUMS
releases/$VERSION/$deb|rm $VERSION/$deb && mkfifo $VERSION/$deb
TABLE
}
