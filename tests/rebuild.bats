#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# packaging/release/rebuild of a small release: the source tarball and this
# machine's packages of $RELEASE, which packaging/release/make-release made of this
# tree at version $VERSION, with its .buildinfo as a release of this
# machine alone records it.

setup() {
    cd "$BATS_TEST_TMPDIR" || return
    arch=$(dpkg --print-architecture) machine=$(uname -m)
    mkdir small
    cp "$RELEASE/verdix-$VERSION.tar.gz" "$RELEASE/verdix_${VERSION}_$arch.deb" \
        "$RELEASE/verdix-$VERSION-1.$machine.rpm" "$RELEASE/verdix-$VERSION-linux-$machine.tar.gz" small/
    awk -v arch="$arch" -v files=" $(cd small && echo ./*) " '
        /^[^ ]/ { checksums = $1 == "Checksums-Sha256:" }
        /^Architecture:/ { $0 = "Architecture: " arch " source" }
        checksums && /^ / && !index(files, " ./" $3 " ") { next }
        { print }' "$RELEASE/verdix_$VERSION.buildinfo" >"small/verdix_$VERSION.buildinfo"
}

# sums: SHA256SUMS for the small release as it now is.
sums() {
    (cd small && rm -f SHA256SUMS && sha256sum -- * >SHA256SUMS)
}

@test "rebuild: names the one file of five that differs from what its source makes, and a recorded version that the archive lacks" {
    # The binary tarball, whole, packed again by another recipe.
    top=verdix-$VERSION-linux-$(uname -m)
    (cd small && tar -xzf "$top.tar.gz" && tar -czf "$top.tar.gz" "$top" && rm -r "$top")
    sums
    run "$SOURCE/packaging/release/rebuild" small
    [ "$status" -eq 1 ] || { echo "$output" >&2; false; }
    [ "$(grep '^differs: ' <<<"$output")" = "differs: $top.tar.gz" ]
    grep -qx 'reproduced: 4 of 5 artefacts' <<<"$output"
    grep -q '^packages: the root held exactly the [0-9]* that' <<<"$output"

    sed -i 's/^ cmake (= .*)/ cmake (= 3.0.0-0),/' "small/verdix_$VERSION.buildinfo"
    sums
    run "$SOURCE/packaging/release/rebuild" small
    [ "$status" -eq 2 ] || { echo "$output" >&2; false; }
    grep -qF "E: Version '3.0.0-0' for 'cmake' was not found" <<<"$output"
    grep -q 'https://snapshot.debian.org/' <<<"$output"
}
