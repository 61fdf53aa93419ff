#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# Hostile releases, each crafted here from $RELEASE, a release that
# packaging/release/make-release made of the source tree $SOURCE at
# $VERSION: rebuild, publish and make-release refuse each, naming its cause,
# and nothing of it runs outside a root. Each hostile command would make
# the file "escaped" in the test's folder: that it is not there is the
# oracle.

load release

setup() {
    cd "$BATS_TEST_TMPDIR" || return
    deb=verdix_${VERSION}_$(dpkg --print-architecture).deb rpm=verdix-$VERSION-1.$(uname -m).rpm
    tgz=verdix-$VERSION-linux-$(uname -m).tar.gz info=verdix_$VERSION.buildinfo mark=$PWD/escaped
}

# deb DIR FIELD: DIR's .deb with its field FIELD as given.
deb() {
    dpkg-deb -R "$RELEASE/$deb" unpacked && sed -i "s|^${2%%:*}: .*|$2|" unpacked/DEBIAN/control
    dpkg-deb --root-owner-group -b unpacked "$1/$deb" >/dev/null && rm -r unpacked
}

@test "rebuild refuses a release whose fields, names, links, relations or epochs are not a release's, naming the cause, before it uses any of it" {
    while IFS='|' read -r name message craft; do
        mkdir "$name" && cp "$RELEASE"/* "$name/"
        (cd "$name" && eval "$craft") && recorded "$name"
        [ ! -e "$name.listed" ] || cat "$name.listed" >>"$name/SHA256SUMS"
        run "$SOURCE/packaging/release/rebuild" "$name"
        [ "$status" -eq 1 ] && grep -qF -- "$message" <<<"$output" && grep -q 'nothing of it was used' <<<"$output" &&
            [ ! -e "$mark" ] || { echo "$name: $output" >&2 && false; }
    done <<TABLE
continued|its field Build-Architecture is not|sed -i '/^Build-Architecture:/a\\ i386";};APT::Update::Pre-Invoke{"touch $mark;false";};X{"' $info
installed|its field Installed-Build-Depends is not|sed -i 's/^ cmake (= .*)/ cmake (>= 3),/' $info
unknown|it has a field Build-Hook|echo 'Build-Hook: touch $mark' >>$info
dotdot|SHA256SUMS, line 15, does not name a file|sha256sum /etc/hostname | sed 's|  /|  ../../../../../|' >../dotdot.listed
glob|SHA256SUMS, line|cp $info 'verdix_[1]${VERSION#?}.buildinfo'
link|$tgz is not a whole verdix $VERSION artefact, or its fields disagree with its name: not whole, or with what a tarball|tar -xzf $tgz && ln -s /etc ${tgz%.tar.gz}/etc && tar -czf $tgz ${tgz%.tar.gz} && rm -r ${tgz%.tar.gz}
epoch|$rpm is not a whole verdix $VERSION artefact, or its fields disagree with its name: verdix 1 $VERSION 1|epoch
using|its field Built-Using does not name exactly the glibc|deb . 'Built-Using: glibc (>= 2.17)'
script|$deb is not a whole verdix $VERSION artefact, or its fields disagree with its name: not whole, with scripts|dpkg-deb -R $deb u && printf 'touch $mark' >u/DEBIAN/postinst && chmod 755 u/DEBIAN/postinst && dpkg-deb -b u $deb >/dev/null && rm -r u
more|$deb is not a whole verdix $VERSION artefact, or its fields disagree with its name: not whole, with scripts, or with what a package|dpkg-deb -R $deb u && echo 'Conflicts: openssh-server' >>u/DEBIAN/control && dpkg-deb -b u $deb >/dev/null && rm -r u
paragraph|$info is not one paragraph of printable lines|printf '\nBuild-Hook: touch $mark\n' >>$info
twice|verdix-$VERSION.tar.gz is not a whole verdix $VERSION artefact, or its fields disagree with its name: no changelog|tar -xzf verdix-$VERSION.tar.gz verdix-$VERSION/changelog && gzip -d verdix-$VERSION.tar.gz && tar -rf verdix-$VERSION.tar verdix-$VERSION/changelog && gzip -n verdix-$VERSION.tar && rm -r verdix-$VERSION
TABLE
    # A relation spelled otherwise names the same glibc.
    mkdir spelled && cp "$RELEASE"/* spelled/
    glibc=$("$SOURCE/packaging/site/check-release" "$RELEASE" | cut -d ' ' -f 4)
    deb spelled "Built-Using: glibc (=$glibc)" && recorded spelled
    [ "$("$SOURCE/packaging/site/check-release" spelled | cut -d ' ' -f 4)" = "$glibc" ]
}

# epoch: the .rpm replaced by one of the same name, machine and version,
# with an epoch.
epoch() {
    printf '%s\n' 'Name: verdix' 'Epoch: 1' "Version: $VERSION" 'Release: 1' 'Summary: verdix' 'License: MIT' \
        '%description' 'verdix' '%install' 'mkdir -p %{buildroot}/usr/bin && touch %{buildroot}/usr/bin/verdix' \
        '%files' /usr/bin/verdix >"$BATS_TEST_TMPDIR/epoch.rpmbuild"
    rpmbuild -bb --quiet --target "$(uname -m)" --define "_topdir $BATS_TEST_TMPDIR/rpmbuild" --define '_rpmformat 4' \
        --define "_rpmdir $PWD" --define "_build_name_fmt $rpm" "$BATS_TEST_TMPDIR/epoch.rpmbuild" >/dev/null
}

@test "rebuild runs a release's build in namespaces of its own, as no user of this machine, with no network; what it makes comes out as plain files or not at all; it cannot fake an exit status" {
    echo "secret $RANDOM" >secret && chmod 600 secret
    python3 -m http.server --bind 127.0.0.1 0 >server.log 2>&1 &
    server=$!
    for _ in {1..100}; do grep -q ' port ' server.log && break; sleep 0.1; done
    port=$(sed -n 's/^Serving HTTP on .* port \([0-9]*\) .*/\1/p' server.log)
    # (Its root holds what minbase has, and bash as recorded.)
    mkdir small && cp "$RELEASE/verdix-$VERSION.tar.gz" "$RELEASE/$deb" small/
    awk '/^[^ ]/ { packages = $1 == "Installed-Build-Depends:"; print } packages && $1 == "bash" { sub(/,$/, ""); print }
        !packages && /^ / { print }' \
        "$RELEASE/$info" >"small/$info"
    tar -xzf "small/verdix-$VERSION.tar.gz"
    cat >"verdix-$VERSION/packaging/release/build-machines" <<EOF
#!/bin/sh
echo "hostile build: uid \$(id -u), ids \$(cat /proc/self/uid_map), \$(ls -d /proc/[0-9]* | wc -l) processes, \$(ls -l /proc/\$\$/fd | grep -c socket) sockets"
for at in / /proc/*/root/ /proc/*/cwd/; do touch "\$at$mark"; cat "\$at$PWD/secret"; done 2>/dev/null
mkdir -p /build/out
bash -c 'exec 3<>/dev/tcp/127.0.0.1/$port && printf "GET /escaped HTTP/1.0\\r\\n\\r\\n" >&3 && cat <&3' &&
    echo 'hostile build: reached the network'
ln -s $PWD/secret /build/out/$deb
echo 'E: Unable to locate package gcc-12'
EOF
    echo true >"verdix-$VERSION/packaging/release/buildinfo"
    tar -czf "small/verdix-$VERSION.tar.gz" "verdix-$VERSION" && recorded small
    run "$SOURCE/packaging/release/rebuild" small
    kill "$server"
    [ "$status" -eq 1 ] && grep -q 'something other than plain files' <<<"$output" || { echo "$output" >&2 && false; }
    read -r uid inside outside count processes sockets < <(sed -n 's/^hostile build: uid \([0-9]*\), ids *\([0-9]*\) *\([0-9]*\) *\([0-9]*\), \([0-9]*\) processes, \([0-9]*\) sockets$/\1 \2 \3 \4 \5 \6/p' <<<"$output")
    [ "$uid" -eq 1000 ] && [ "$inside" -eq 0 ] && [ "$processes" -lt 20 ] && [ "$sockets" -eq 0 ]
    getent passwd | awk -F: -v first="$outside" -v count="$count" '$3 >= first && $3 < first + count { exit 1 }'
    [ ! -e escaped ] && ! grep -q "$(cat secret)" <<<"$output" && ! grep -q 'GET /escaped' server.log
    ! grep -q 'reached the network' <<<"$output"
}
