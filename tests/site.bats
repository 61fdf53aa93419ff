#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# What packaging/site/publish makes of a release, as gpg, gpgv, rpm and dnf
# of this machine see it through a web server on the loopback address: the
# release as it is, signed, with the settings for its site and the source of
# the C library in verdix-static, the same bytes when published again, and
# each check refusing what is changed. $RELEASE is a whole release that
# packaging/release/make-release made of the source tree $SOURCE, whose
# version is $VERSION; the key is a throwaway one, made here.

load release
load publish

setup_file() {
    serve && publish "$release" site
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
    VERDIX_SIGNING_KEY=$KEY "$SOURCE/packaging/site/publish" "$release" again "$URL/site"
    diff -r "$site" again
}

@test "gpg: the signatures of SHA256SUMS, the source and the C library's source verify, and not for a changed file" {
    keyring=$site/verdix-archive-keyring.pgp
    gpgv --keyring "$keyring" "$published/SHA256SUMS.asc" "$published/SHA256SUMS"
    gpgv --keyring "$keyring" "$published/verdix-$VERSION.tar.gz.asc" \
        "$published/verdix-$VERSION.tar.gz"
    # The source of the C library in verdix-static, whole.
    gpgv --keyring "$keyring" "$site/glibc/SHA256SUMS.asc" "$site/glibc/SHA256SUMS"
    (cd "$site/glibc" && sha256sum --quiet -c SHA256SUMS)
    # The one glibc that every package names.
    for built in "$release"/*.deb; do dpkg-deb --field "$built" Built-Using; done | sort -u |
        sed 's/^glibc (= \(.*\))$/glibc_\1.dsc/' |
        diff - <(cd "$site/glibc" && ls ./*.dsc | cut -c 3-)
    dpkg-source --no-check --skip-patches -x "$site"/glibc/glibc_*.dsc glibc >/dev/null
    [ -e glibc/debian/control ]
    sed 's/^./0/' "$published/SHA256SUMS" >changed
    ! gpgv --keyring "$keyring" "$published/SHA256SUMS.asc" changed 2>err || false
    grep -q 'BAD signature' err
}

@test "rpm: with the key imported, the signatures of every .rpm check, and not for a changed one" {
    rpm --dbpath "$PWD/rpmdb" --import "$site/verdix.asc"
    [ "$(ls "$site"/rpm/*.rpm | wc -l)" -eq $(($(machines | wc -l) + 1)) ]
    for signed in "$site"/rpm/*.rpm; do
        rpm --dbpath "$PWD/rpmdb" -K - <"$signed" | grep -qx -- '-: digests signatures OK'
    done
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

@test "docs: the README and CONTRIBUTING name the Debian release of the root, and its glibc" {
    # The root's Debian release, by name and by number (of its base-files),
    # and the upstream version of the glibc that every package names.
    perl -MDpkg::Control -e '$b = Dpkg::Control->new(type => CTRL_FILE_BUILDINFO);' \
        -e '$b->load($ARGV[0]); print "$b->{q{Build-Suite}}\n$b->{q{Installed-Build-Depends}}\n"' \
        "$release/verdix_$VERSION.buildinfo" >fields
    suite=$(head -n 1 fields)
    number=$(sed -n 's/^ *base-files (= \([0-9]*\)[.+].*/\1/p' fields)
    glibc=$(for built in "$release"/*.deb; do dpkg-deb --field "$built" Built-Using; done |
        sort -u | sed -n 's/^glibc (= \([0-9.]*\)-.*)$/\1/p')
    [ -n "$suite" ] && [ -n "$number" ] && [ "$(echo "$glibc" | wc -w)" -eq 1 ]
    for doc in README.md CONTRIBUTING.md; do
        tr '\n' ' ' <"$SOURCE/$doc" >flat
        # (Each Debian release it names by number and name is the root's.)
        [ "$(grep -oE 'Debian [0-9]+ \([a-z]+\)' flat | sort -u)" = "Debian $number ($suite)" ] &&
            grep -qF "glibc $glibc " flat ||
            { echo "$doc does not name Debian $number ($suite) and glibc $glibc" >&2 && false; }
    done
}
