# SPDX-License-Identifier: MIT
# The setup that the suites of packaging/site/publish share (site,
# refusals, killed, clients), which bats loads into them after release.bash:
# throwaway keys, a web server on the loopback address, publish into a site
# of its own there, and releases newer than $RELEASE. A suite's setup_file
# calls serve; teardown_file is this, and setup too unless the suite has its
# own.

# key NAME TIME EXPIRY [ALGORITHM USE OPTION...]: make a key at TIME, print
# its fingerprint.
key() {
    gpg --batch --quiet --passphrase '' --faked-system-time "$2" "${@:6}" \
        --quick-gen-key "$1" "${4:-ed25519}" "${5:-sign}" "$3" 2>/dev/null
    gpg --with-colons --list-keys "$1" | awk -F: '$1 == "fpr" { print $10; exit }'
}

# names: this machine's .deb, .rpm and binary tarball of the release; the
# folder "sites" of the suite's sites, the site "site", and the release as
# it published it.
names() {
    deb=verdix_${VERSION}_$(dpkg --print-architecture).deb rpm=verdix-$VERSION-1.$(uname -m).rpm
    tgz=verdix-$VERSION-linux-$(uname -m).tar.gz
    sites=$BATS_FILE_TMPDIR/sites release=$RELEASE
    site=$sites/site published=$sites/site/releases/$VERSION
}

# serve: in the suite's own folder, a keyring of its own with $KEY, the
# project's key, made before the release's date; and a web server on the
# loopback address at $URL, for the folder "sites": each site that a test
# needs is published into a folder of its own there, for its own address.
serve() {
    cd "$BATS_FILE_TMPDIR" || return
    names
    export GNUPGHOME=$BATS_FILE_TMPDIR/gnupg
    mkdir -m 700 "$GNUPGHOME"
    KEY=$(key 'verdix <verdix@example.org>' 20200101T000000 20y)
    export KEY
    mkdir sites
    python3 -u -m http.server --bind 127.0.0.1 --directory sites 0 >server.log 2>&1 &
    echo $! >server.pid
    for _ in {1..100}; do grep -q ' port ' server.log && break; sleep 0.1; done
    URL=http://127.0.0.1:$(sed -n 's/^Serving HTTP on .* port \([0-9]*\) .*/\1/p' server.log)
    export URL
}

teardown_file() {
    cd "$BATS_FILE_TMPDIR" && kill "$(cat server.pid)"
    gpgconf --kill all
}

# Each test works in a folder of its own.
setup() {
    cd "$BATS_TEST_TMPDIR" && names
}

# publish RELEASE SITE [KEYS [AT]]: publish RELEASE into sites/SITE, for
# its own address or that of sites/AT, signed by KEYS or else $KEY.
publish() {
    VERDIX_SIGNING_KEY=${3:-$KEY} "$SOURCE/packaging/site/publish" "$1" \
        "$BATS_FILE_TMPDIR/sites/$2" "$URL/${4:-$2}"
}

# machines: the table of architectures, a row a machine.
machines() {
    awk '!/^#/ && NF' "$SOURCE/packaging/facts/architectures"
}

# newer VERSION FOLDER [WHEN]: a release of VERSION in FOLDER: this
# release's .deb and .rpm files and .buildinfo under that version, and its
# source tarball with a changelog entry for it, dated now or WHEN (as date
# -d reads it).
newer() {
    mkdir -p "$2" unpacked
    for built in "$release"/*.deb; do
        dpkg-deb -R "$built" deb
        sed -i "s/^Version: .*/Version: $1/" deb/DEBIAN/control
        name=${built##*/}
        dpkg-deb --root-owner-group -b deb "$2/${name/_${VERSION}_/_${1}_}" >/dev/null
        rm -r deb
    done
    for built in "$release"/*.rpm; do
        arch=${built%.rpm} arch=${arch##*.}
        mkdir rpmroot && rpm2archive - <"$built" | tar -C rpmroot -xz
        { printf '%s\n' 'Name: verdix' "Version: $1" 'Release: 1' 'Summary: verdix' 'License: MIT' \
            '%description' 'verdix' '%install' "cp -a '$PWD/rpmroot/.' %{buildroot}/" '%files'
            (cd rpmroot && find . ! -type d | sed 's/^\.//'); } >newer.rpmbuild
        rpmbuild -bb --quiet --target "$arch" --define "_topdir $PWD/rpmbuild" \
            --define '_rpmformat 4' --define "_rpmdir $PWD/$2" \
            --define '_build_name_fmt %%{NAME}-%%{VERSION}-1.%%{ARCH}.rpm' \
            --define '__os_install_post %{nil}' --define 'debug_package %{nil}' \
            --define '_build_id_links none' newer.rpmbuild >/dev/null
        rm -r rpmroot
    done
    sed "s/^Version: .*/Version: $1/" "$release/verdix_$VERSION.buildinfo" >"$2/verdix_$1.buildinfo"
    rm -rf unpacked/*
    tar -C unpacked -xzf "$release/verdix-$VERSION.tar.gz"
    top=unpacked/verdix-$VERSION
    { printf 'verdix (%s) unstable; urgency=medium\n\n  * A newer release.\n\n' "$1"
        printf ' -- The verdix developers <verdix@example.org>  %s\n\n' "$(date -R -d "${3:-now}")"
        cat "$top/changelog"; } >changelog
    mv changelog "$top/changelog"
    "$top/packaging/release/source-tarball" "$PWD/$2/verdix-$1.tar.gz" 0
    recorded "$2" "$1"
}
