#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# Hostile inputs to the checks that run first: releases crafted here from
# $RELEASE, a release that packaging/release/make-release made of the
# source tree $SOURCE at $VERSION, and checkouts of that tree. Each is
# refused, naming its cause and the bound it passed, within a bounded time
# and memory.

load release

setup() {
    cd "$BATS_TEST_TMPDIR" || return
    deb=verdix_${VERSION}_$(dpkg --print-architecture).deb info=verdix_$VERSION.buildinfo
}

@test "make-release refuses a submodule, which git would ship as an empty folder" {
    git clone -q "$SOURCE" clone
    cp "$SOURCE/packaging/common.sh" clone/packaging/
    cp "$SOURCE/packaging/release/source-tarball" clone/packaging/release/
    git -C clone update-index --add --cacheinfo "160000,$(git -C clone rev-parse HEAD),sub"
    ! clone/packaging/release/source-tarball "$PWD/verdix.tar.gz" 0 2>err || false
    grep -q 'a submodule would ship as an empty folder' err
}
