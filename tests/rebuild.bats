#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# packaging/release/rebuild of a small release: the source tarball and this
# machine's packages of $RELEASE, which packaging/release/make-release made of this
# tree at version $VERSION, with its .buildinfo as a release of this
# machine alone records it.

load release

setup() {
    cd "$BATS_TEST_TMPDIR" || return
    arch=$(dpkg --print-architecture) machine=$(uname -m)
    mkdir small
    cp "$RELEASE/verdix-$VERSION.tar.gz" "$RELEASE/verdix_${VERSION}_$arch.deb" "$RELEASE/verdix_$VERSION.buildinfo" \
        "$RELEASE/verdix-$VERSION-1.$machine.rpm" "$RELEASE/verdix-$VERSION-linux-$machine.tar.gz" small/
    recorded small
}

@test "rebuild: names the files of five that differ from what its source makes, and a recorded version that the archive lacks" {
    # The binary tarball, whole, packed again by another recipe.
    top=verdix-$VERSION-linux-$(uname -m)
    (cd small && tar -xzf "$top.tar.gz" && tar -czf "$top.tar.gz" "$top" && rm -r "$top")
    recorded small
    run "$SOURCE/packaging/release/rebuild" small
    [ "$status" -eq 1 ] || { echo "$output" >&2; false; }
    [ "$(grep '^differs: ' <<<"$output")" = "differs: $top.tar.gz
differs: verdix_$VERSION.buildinfo" ]
    sums=$(sha256sum <small/SHA256SUMS | cut -c 1-64)
    grep -qx "reproduced: 3 of 5 artefacts, of the SHA256SUMS of SHA256 $sums" <<<"$output"
    grep -q '^packages: the root held exactly the [0-9]* that' <<<"$output"

    sed -i 's/^ cmake (= .*)/ cmake (= 3.0.0-0),/' "small/verdix_$VERSION.buildinfo"
    recorded small
    run "$SOURCE/packaging/release/rebuild" small
    [ "$status" -eq 2 ] || { echo "$output" >&2; false; }
    grep -qF "E: Version '3.0.0-0' for 'cmake' was not found" <<<"$output"
    grep -q 'https://snapshot.debian.org/' <<<"$output"
}

@test "rebuild judges the files it copied once: a folder swapped after the copy changes nothing of its verdict" {
    # Once rebuild has its copy, the web host puts the genuine release in
    # the folder, and takes it away after: rebuild still judges the
    # tampered copy. (As root, build-in-root starts unshare first.)
    deb=verdix_${VERSION}_$arch.deb
    cp -R small genuine
    dpkg-deb -R "small/$deb" unpacked && echo ' tampered' >>unpacked/DEBIAN/control
    dpkg-deb --root-owner-group -b unpacked "small/$deb" >/dev/null && rm -r unpacked && recorded small
    mkdir swap
    for tool in unshare mmdebstrap; do
        printf '%s\n' '#!/bin/sh' "[ -e '$PWD/swapped' ] || { mv '$PWD/small' '$PWD/tampered' &&" \
            "mv '$PWD/genuine' '$PWD/small' && : >'$PWD/swapped'; }" "exec $(command -v $tool) \"\$@\"" >swap/$tool
        chmod +x swap/$tool
    done
    PATH=$PWD/swap:$PATH run "$SOURCE/packaging/release/rebuild" small
    [ -e swapped ] && [ "$status" -eq 1 ] && grep -qx "differs: $deb" <<<"$output" || { echo "$output" >&2 && false; }
    sums=$(sha256sum <tampered/SHA256SUMS | cut -c 1-64)
    grep -qx "reproduced: 3 of 5 artefacts, of the SHA256SUMS of SHA256 $sums" <<<"$output"
}
