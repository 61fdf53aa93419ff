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

# (A server that a failed test started stops with it.)
teardown() {
    [ -z "${server-}" ] || kill "$server" 2>/dev/null || :
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
continued|buildinfo: $info: its field Build-Architecture is not|sed -i '/^Build-Architecture:/a\\ i386";};APT::Update::Pre-Invoke{"touch $mark;false";};X{"' $info
installed|its field Installed-Build-Depends is not|sed -i 's/^ cmake (= .*)/ cmake (>= 3),/' $info
unknown|buildinfo: $info has a field Build-Hook|echo 'Build-Hook: touch $mark' >>$info
dotdot|sums: SHA256SUMS, line 15, does not name a file|sha256sum /etc/hostname | sed 's|  /|  ../../../../../|' >../dotdot.listed
glob|verdix_[1]${VERSION#?}.buildinfo is not a file of a release|cp $info 'verdix_[1]${VERSION#?}.buildinfo'
link|archives: $tgz holds ${tgz%.tar.gz}/etc, which verdix does not install there|tar -xzf $tgz && ln -s /etc ${tgz%.tar.gz}/etc && tar -czf $tgz ${tgz%.tar.gz} && rm -r ${tgz%.tar.gz}
epoch|rpm: $rpm is verdix 1 $VERSION 1|epoch
using|deb: $deb: its field Built-Using does not name exactly the glibc|deb . 'Built-Using: glibc (>= 2.17)'
script|archives: $deb holds ./postinst, which verdix does not install there|dpkg-deb -R $deb u && printf 'touch $mark' >u/DEBIAN/postinst && chmod 755 u/DEBIAN/postinst && dpkg-deb -b u $deb >/dev/null && rm -r u
more|deb: $deb has the field Conflicts, which verdix's have not|dpkg-deb -R $deb u && echo 'Conflicts: openssh-server' >>u/DEBIAN/control && dpkg-deb -b u $deb >/dev/null && rm -r u
paragraph|buildinfo: $info is not one paragraph of printable lines|printf '\nBuild-Hook: touch $mark\n' >>$info
lock|the baseline lock of lock names more than 32 files, or one not of the C library|tar -xzf verdix-$VERSION.tar.gz && echo "amd64 pool/main/0/0ad-data/0ad-data_0.0.26-1_all.deb \$(printf %064d 0)" >>verdix-$VERSION/packaging/facts/baseline.lock && tar -czf verdix-$VERSION.tar.gz verdix-$VERSION && rm -r verdix-$VERSION
twice|archives: verdix-$VERSION.tar.gz holds verdix-$VERSION/changelog twice|tar -xzf verdix-$VERSION.tar.gz verdix-$VERSION/changelog && gzip -d verdix-$VERSION.tar.gz && tar -rf verdix-$VERSION.tar verdix-$VERSION/changelog && gzip -n verdix-$VERSION.tar && rm -r verdix-$VERSION
crc|archives: $tgz does not decompress whole: gzip failed|printf '\\0\\0\\0\\0' | dd of=$tgz bs=1 seek=\$((\$(stat -c %s $tgz) - 8)) conv=notrunc 2>/dev/null
linked|archives: $deb: ./usr/share/doc/verdix leads to where verdix does not install|dpkg-deb -R $deb u && rm -r u/usr/share/doc/verdix && ln -s ../../../etc u/usr/share/doc/verdix && dpkg-deb -b u $deb >/dev/null && rm -r u
TABLE
    # A relation spelled otherwise names the same glibc.
    mkdir spelled && cp "$RELEASE"/* spelled/
    "$SOURCE/packaging/site/check-release" "$RELEASE" facts
    glibc=$(sed -n 's/^glibc=//p' facts)
    deb spelled "Built-Using: glibc (=$glibc)" && recorded spelled
    "$SOURCE/packaging/site/check-release" spelled spelled.facts
    [ "$(sed -n 's/^glibc=//p' spelled.facts)" = "$glibc" ]
}

@test "rebuild copies RELEASE once, as plain files of bounded size, and refuses at the copy what is not one" {
    while IFS='|' read -r name message craft; do
        mkdir "$name" && cp "$RELEASE"/* "$name/" && (cd "$name" && eval "$craft")
        run timeout 60 "$SOURCE/packaging/release/rebuild" "$name"
        [ "$status" -eq 1 ] && grep -qF -- "$message" <<<"$output" &&
            grep -q 'nothing of it was used' <<<"$output" || { echo "$name: $output" >&2 && false; }
    done <<TABLE
fifo|fifo/$deb is not a plain file|rm $deb && mkfifo $deb
link|link/$deb is not a plain file|ln -sf /etc/hostname $deb
device|device/$deb is not a plain file|rm $deb && { mknod $deb c 1 3 2>/dev/null || mkfifo $deb; }
folder|folder/SHA256SUMS.asc is not a plain file|mkdir SHA256SUMS.asc
large|large/$deb is larger than the 67108864 bytes a file of a release may be|truncate -s 65M $deb
many|many holds more than the 64 files a release may|for n in \$(seq 60); do : >\$n; done
TABLE
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

@test "rebuild runs a release's build in a sandbox: namespaces, keyrings, descriptors and /dev/shm of its own, bounded, as no user of this machine, with no network; what it makes comes out as plain files or not at all; it cannot fake an exit status" {
    case $(uname -m) in
    x86_64) keyctl=250 ;;
    aarch64) keyctl=219 ;;
    *) skip "no keyctl call number for $(uname -m) here" ;;
    esac
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
    # Each probe prints what the build saw, or whether what it tried was
    # done or refused.
    cat >"verdix-$VERSION/packaging/release/build-machines" <<EOF
#!/bin/bash
see() { printf 'hostile build: %s: %s\n' "\$1" "\$(bash -c "\$2" 2>/dev/null | tr '\n' ' ' | sed 's/ *\$//')"; }
try() { printf 'hostile build: %s: %s\n' "\$1" "\$(bash -c "\$2" >/dev/null 2>&1 && echo done || echo refused)"; }
see ids 'echo \$(id -u) \$(cat /proc/self/uid_map)'
see processes 'ls -d /proc/[0-9]* | wc -l'
see sockets 'ls -l /proc/\$\$/fd | grep -c socket'
see descriptors 'ls /proc/self/fd'
try 'descriptor 1500' 'echo escaped >&1500'
see 'caller keys' 'grep -c verdix-secret /proc/keys'
try 'session key' 'perl -e "(\\\$t, \\\$d) = qw(user verdix-secret); exit(syscall($keyctl, 10, -3, \\\$t, \\\$d, 0) < 0)"'
see 'shm' 'ls -A /dev/shm'
try 'shm past 64 MiB' 'head -c 100M /dev/zero >/dev/shm/left'
try 'a file in /dev' 'echo x >/dev/left'
see sys 'ls -A /sys'
see sizes 'df -B1 --output=size /build /tmp /var/tmp /dev/shm | tail -n +2 | tr -d " "'
try 'unshare -r' 'unshare -r true'
try 'a file past 1 GiB' 'head -c 1100M /dev/zero >/build/big; status=\$?; rm -f /build/big; exit \$status'
try 'data past 4 GiB' 'perl -e "\\\$x = q(x) x (5 << 30)"'
try '1100 processes' 'perl -e "for (1 .. 1100) { defined(\\\$p = fork) or last; \\\$p or sleep(9), exit; push @k, \\\$p } kill 9, @k; exit(@k < 1100)"'
see limits 'prlimit --noheadings --output=RESOURCE,SOFT | grep -E "^ *(FSIZE|DATA|NPROC|NOFILE|CORE) " | tr -s " "'
for at in / /proc/*/root/ /proc/*/cwd/; do touch "\$at$mark"; cat "\$at$PWD/secret"; done 2>/dev/null
mkdir -p /build/out
bash -c 'exec 3<>/dev/tcp/127.0.0.1/$port && printf "GET /escaped HTTP/1.0\\r\\n\\r\\n" >&3 && cat <&3' &&
    echo 'hostile build: reached the network'
ln -s $PWD/secret /build/out/$deb
echo 'E: Unable to locate package gcc-12'
EOF
    echo true >"verdix-$VERSION/packaging/release/buildinfo"
    tar -czf "small/verdix-$VERSION.tar.gz" "verdix-$VERSION" && recorded small
    # The caller's session holds a key, /dev/shm a file of the caller's,
    # and a descriptor above 1023 is open.
    echo 'the caller' >descriptor && : >"/dev/shm/verdix-caller.$$"
    ulimit -n 4096
    run keyctl session - bash -c 'keyctl add user verdix-secret "$(cat secret)" @s >key &&
        "$0" small 1500>>descriptor; status=$?
        keyctl rlist @s >keys; keyctl pipe "$(cat key)" >held; exit $status' \
        "$SOURCE/packaging/release/rebuild"
    kill "$server"
    rm "/dev/shm/verdix-caller.$$"
    [ "$status" -eq 1 ] && grep -q 'something other than plain files' <<<"$output" ||
        { echo "$output" >&2 && false; }
    while IFS='|' read -r probe saw; do
        grep -Eqx "hostile build: $probe: $saw" <<<"$output" ||
            { echo "$probe: $output" >&2 && false; }
    done <<TABLE
ids|1000 1000 (0|1000) 1
processes|([1-9]|1[0-9])
sockets|0
descriptors|0 1 2 3
descriptor 1500|refused
caller keys|0
session key|refused
shm|
shm past 64 MiB|refused
a file in /dev|refused
sys|
sizes|4294967296 2147483648 2147483648 67108864
unshare -r|refused
a file past 1 GiB|refused
data past 4 GiB|refused
1100 processes|refused
TABLE
    [ "$(cat descriptor)" = 'the caller' ] && [ "$(cat keys)" = "$(cat key)" ]
    [ "$(cat held)" = "$(cat secret)" ] && [ ! -e /dev/shm/left ] && [ ! -e escaped ]
    ! grep -q "$(cat secret)" <<<"$output" && ! grep -q 'GET /escaped' server.log
    ! grep -q 'reached the network' <<<"$output"
}

@test "the sandbox stops a command past its time, and every process it started" {
    mkdir in
    SECONDS=0
    run "$SOURCE/packaging/release/sandbox" --seconds 2 / in \
        sh -c 'sleep 300 & echo "$!" && sleep 300'
    [ "$status" -eq 124 ] && [ "$SECONDS" -lt 30 ] || { echo "$status: $output" >&2 && false; }
    grep -qx 'packaging/release/sandbox: stopped past its 2 seconds' <<<"$output"
    ! pgrep -f '^sleep 300$'
}
