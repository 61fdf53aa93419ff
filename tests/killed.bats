#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# A publish killed at any point, as apt and dnf of this machine see the
# site through a web server on the loopback address: the live site stays
# whole, and publishing again completes it, as a publish that was not
# killed would have made it. $RELEASE is a whole release that
# packaging/release/make-release made of the source tree $SOURCE, whose
# version is $VERSION; the key is a throwaway one, made here.

load release
load publish

setup_file() {
    serve
}

# whole: apt and dnf read the site "live" whole, with the keyring and
# verdix.repo that it served before (in the test's folder), and apt says no
# more than it does when all is well.
whole() {
    echo "deb [signed-by=$PWD/verdix-archive-keyring.pgp] $URL/live/apt stable main" >sources
    rm -rf apt dnf && mkdir -p apt/lists/partial apt/cache/archives/partial
    apt-get -q=0 -o Dir::State::Lists="$PWD/apt/lists" -o Dir::Cache="$PWD/apt/cache" \
        -o Dir::Etc::SourceList="$PWD/sources" -o Dir::Etc::SourceParts=/dev/null \
        -o APT::Architecture="$arch" -o APT::Architectures="$archs" \
        -o APT::Sandbox::User="$(id -un)" -o Debug::NoLocking=1 update >out 2>&1 &&
        ! grep -Eq '^([NWE]|Notice|Warning|Error):' out || { cat out >&2; false; }
    dnf -y --installroot="$PWD/dnf/root" --setopt=reposdir="$PWD" \
        --setopt=cachedir="$PWD/dnf/cache" --releasever=1 list --available verdix >out 2>&1 ||
        { cat out >&2; false; }
}

@test "a publish killed at any point leaves the live site whole for apt and dnf; publishing again completes it" {
    publish "$release" live
    newer "$VERSION.1" newer
    arch=$(dpkg --print-architecture) archs=$(machines | awk '{ print $2 }' | paste -sd ,)
    cp "$sites/live/verdix-archive-keyring.pgp" "$sites/live/verdix.repo" .
    # tests/hooks/kill/gpg kills publish, all of it, at gpg's Nth call: from
    # the check of the keys to the signature of the last index, each step
    # has one.
    for at in 1 3 6 9 13 18 23; do
        rm -f calls && status=0
        KILL_AT=$at CALLS=$PWD/calls PATH=$SOURCE/tests/hooks/kill:$PATH VERDIX_SIGNING_KEY=$KEY \
            setsid "$SOURCE/packaging/site/publish" newer "$sites/live" "$URL/live" \
            >/dev/null 2>&1 || status=$?
        [ "$status" -eq 137 ] ||
            { echo "no kill landed at gpg's call $at: publish ended with $status" >&2 && false; }
        whole
    done
    publish newer live
    whole
    /usr/lib/apt/apt-helper cat-file apt/lists/*_Packages* | grep -q "^Version: $VERSION\.1$"
    # The same releases, the older published last: the same index, dated
    # as the newer.
    publish newer older "" live && publish "$release" older "" live
    cmp "$sites/live/apt/dists/stable/InRelease" "$sites/older/apt/dists/stable/InRelease"
}
