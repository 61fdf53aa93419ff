#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# A hostile web host and other local users, against packaging/site/publish
# of $RELEASE, a release that packaging/release/make-release made of the
# source tree $SOURCE at $VERSION: publish refuses what it was not told to
# trust, and what it does not own, naming the cause; the site stays as it
# was. A hostile command would make the file "escaped" in the test's
# folder: that it is not there is the oracle.

load release

setup() {
    cd "$BATS_TEST_TMPDIR" || return
    deb=verdix_${VERSION}_$(dpkg --print-architecture).deb info=verdix_$VERSION.buildinfo mark=$PWD/escaped
}

@test "publish carries an earlier release only if its signature verifies with a key whose secret it holds; else the site stays as it was" {
    export GNUPGHOME=$PWD/gnupg
    mkdir -m 700 gnupg stranger
    for home in gnupg stranger; do
        gpg --homedir "$home" --batch --quiet --passphrase '' --quick-gen-key "$home <$home@example.org>" ed25519 sign 1y
    done
    key=$(gpg --with-colons --list-keys | awk -F: '$1 == "fpr" { print $10; exit }')
    VERDIX_SIGNING_KEY=$key "$SOURCE/packaging/site/publish" "$RELEASE" site http://127.0.0.1/site
    releases=$(readlink -f site)/releases
    while IFS='|' read -r message tamper; do
        rm -rf "$releases/0.1" && cp -R "$releases/$VERSION" "$releases/0.1"
        (cd "$releases/0.1" && eval "$tamper")
        state=$(find -L site -type f -exec sha256sum {} + | sort)
        ! VERDIX_SIGNING_KEY=$key "$SOURCE/packaging/site/publish" "$RELEASE" site http://127.0.0.1/site 2>err || false
        grep -qF "$message" err && [ "$(find -L site -type f -exec sha256sum {} + | sort)" = "$state" ] &&
            [ ! -e "$mark" ] || { cat err >&2 && false; }
    done <<TABLE
is not the release verdix 0.1|:
releases/0.1: its SHA256SUMS.asc is not a signature|sed -i '/^Build-Architecture:/a\\ i386";};APT::Update::Pre-Invoke{"touch $mark";};' $info && sha256sum -- verdix* >SHA256SUMS
releases/0.1: its SHA256SUMS.asc is not a signature|rm SHA256SUMS.asc
releases/0.1: its SHA256SUMS.asc is not a signature|gpg --homedir $PWD/stranger --batch --yes --armor --detach-sign -o SHA256SUMS.asc SHA256SUMS
TABLE
    gpgconf --homedir stranger --kill all
    # A web host that changes every tree but the live one while publish
    # signs gets none of its bytes signed.
    mkdir tamper && cat >tamper/gpg <<EOF
#!/bin/sh
for deb in \$(find $PWD/site.trees -path "*/releases/*.deb" ! -path "\$(readlink -f $PWD/site)/*"); do printf x >>"\$deb"; done
exec $(command -v gpg) "\$@"
EOF
    chmod +x tamper/gpg && rm -rf "$releases/0.1"
    PATH=$PWD/tamper:$PATH VERDIX_SIGNING_KEY=$key "$SOURCE/packaging/site/publish" "$RELEASE" site http://127.0.0.1/site
    cmp "$RELEASE/$deb" "site/apt/pool/main/v/verdix/$deb"
}

