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
    tgz=verdix-$VERSION-linux-$(uname -m).tar.gz src=verdix-$VERSION.tar.gz
}

# varint N, le32 N, crc32: N as xz writes a size (seven bits a byte, the
# lowest first); N in four bytes, the lowest first; the CRC-32 of standard
# input as xz writes it, which gzip's trailer holds.
varint() {
    local n=$1
    while [ "$n" -ge 128 ]; do
        printf '%b' "\\x$(printf %02x $((n & 127 | 128)))" && n=$((n >> 7))
    done
    printf '%b' "\\x$(printf %02x "$n")"
}
le32() {
    local shift
    for shift in 0 8 16 24; do printf '%b' "\\x$(printf %02x $(($1 >> shift & 255)))"; done
}
crc32() {
    gzip -c | tail -c 8 | head -c 4
}

# repeat COUNT FILE: FILE's bytes, COUNT times.
repeat() {
    yes "$2" | head -n "$1" | xargs cat
}

# joined COUNT FIRST CHUNK LAST: one xz stream of the block of FIRST, COUNT
# times that of CHUNK and that of LAST, each an .xz of one block, as xz makes
# them, with the index of them all (a decompressor reads one stream alone).
joined() {
    local count=$1 at=$BATS_TEST_TMPDIR/joined piece n=0 total unpadded size && shift
    mkdir "$at"
    for piece; do
        xz --robot -lvv "$piece" |
            awk -F '\t' '$1 == "block" { print $7, $12 + $14 + 8, $8 }' >"$at/sizes"
        read -r total unpadded size <"$at/sizes"
        tail -c +13 "$piece" | head -c "$total" >"$at/$n.block"
        { varint "$unpadded" && varint "$size"; } >"$at/$n"
        n=$((n + 1))
    done
    head -c 12 "$1" && cat "$at/0.block" && repeat "$count" "$at/1.block" && cat "$at/2.block"
    { printf '\0' && varint $((count + 2)) && cat "$at/0" && repeat "$count" "$at/1" &&
        cat "$at/2"; } >"$at/index"
    head -c $(((4 - $(stat -c %s "$at/index") % 4) % 4)) /dev/zero >"$at/padding"
    cat "$at/index" "$at/padding" >"$at/padded" && crc32 <"$at/padded" >"$at/check"
    cat "$at/padded" "$at/check" && size=$(($(stat -c %s "$at/padded") + 4))
    { le32 $((size / 4 - 1)) && head -c 8 "$1" | tail -c 2; } >"$at/footer"
    crc32 <"$at/footer" && cat "$at/footer" && printf YZ
    rm -r "$at"
}

# huge TAR MEMBER COMPRESS COUNT MIB [PRE [POST]]: TAR compressed by
# COMPRESS, with its member MEMBER first, of PRE's bytes, COUNT times MIB
# MiB of x, a line end and POST's bytes: the MIB MiB compressed once, and
# then joined, so that a member of gigabytes takes seconds.
huge() {
    local tar=$1 member=$2 compress=$3 count=$4 chunk=$(($5 << 20))
    local pre=${6:-/dev/null} post=${7:-/dev/null} at=$BATS_TEST_TMPDIR/huge size
    size=$(($(stat -c %s "$pre") + count * chunk + 1 + $(stat -c %s "$post")))
    mkdir -p "$at/${member%/*}" && truncate -s "$size" "$at/$member"
    tar -C "$at" --format=gnu --owner=0 --group=0 -cf - "$member" 2>/dev/null | head -c 512 |
        cat - "$pre" | $compress >"$at.first"
    head -c "$chunk" /dev/zero | tr '\0' x | $compress >"$at.chunk"
    { echo && cat "$post" && head -c $(((512 - size % 512) % 512)) /dev/zero &&
        tar --delete -f - "$member" <"$tar"; } | $compress >"$at.last"
    if [ "${compress%% *}" = xz ]; then
        joined "$count" "$at".{first,chunk,last}
    else
        cat "$at.first" && repeat "$count" "$at.chunk" && cat "$at.last"
    fi
    rm -r "$at" "$at".{first,chunk,last}
}

# part PART MEMBER COMPRESS COUNT MIB [WHOLE]: the release here with its
# .deb's PART.tar.xz (control or data) as huge makes it, of MEMBER, and
# then compressed whole by WHOLE, if given.
part() {
    local tar=$BATS_TEST_TMPDIR/$1.tar option=--fsys-tarfile
    [ "$1" = data ] || option=--ctrl-tarfile
    dpkg-deb "$option" "$deb" >"$tar" && huge "$tar" "${@:2:4}" | ${6:-cat} >"$tar.xz" &&
        ar r "$deb" "$tar.xz" && rm "$tar" "$tar.xz" && recorded .
}

# changelog_of MIB: the release here with a line of MIB MiB of x in the
# newest entry of its source's changelog.
changelog_of() {
    huge ../source.tar "verdix-$VERSION/changelog" 'gzip -n' "$1" 1 ../source.{pre,post} \
        >"$src" && recorded .
}

# documents COUNT SIZE: the release here with COUNT more documents, of SIZE
# each, in its binary tarball.
documents() {
    local top=${tgz%.tar.gz}
    tar -xzf "$tgz" && (cd "$top/share/doc/verdix" && seq -f 'f%05g' "$1" | xargs truncate -s "$2")
    tar -czf "$tgz" "$top" && rm -r "$top" && recorded .
}

@test "check-release refuses any file, stream, listing or member past its bound, in seconds" {
    tar -xzOf "$RELEASE/$src" "verdix-$VERSION/changelog" >source.changelog
    { head -n 2 source.changelog && printf '  * '; } >source.pre
    tail -n +3 source.changelog >source.post
    gzip -dc "$RELEASE/$src" >source.tar
    log=$(($(stat -c %s source.changelog) + 5)) mib=$((1 << 20)) gib=$((1 << 30))
    cl=verdix-$VERSION/changelog bin=./usr/bin/verdix
    # (As dpkg-deb -Zxz compresses, in blocks of 24 MiB: 683 of them.)
    dpkg="'xz -T2 --block-size=24MiB'" big=$((683 * 24 * mib + 1))
    while IFS='|' read -r name file message craft; do
        mkdir "$name" && cp "$RELEASE"/* "$name/"
        (cd "$name" && eval "$craft")
        run timeout 20 prlimit --data=$((256 << 20)) --fsize=$((64 << 20)) \
            "$SOURCE/packaging/site/check-release" "$name" "$name.facts"
        [ "$status" -eq 1 ] && grep -qF -- "$name: the rule of " <<<"$output" &&
            grep -qF -- ": $file" <<<"$output" &&
            grep -qF -- "$message" <<<"$output" || { echo "$name: $status: $output" >&2 && false; }
        rm -r "$name"
    done <<TABLE
line|$src|its member $cl is $((log + gib)) bytes, more than the 16777216|changelog_of 1024
changelog|$src|its changelog is more than the 1048576 bytes|changelog_of 2
member|$deb|member $bin is $big bytes, more than the 16777216|part data $bin $dpkg 683 24
control|$deb|./md5sums is $((mib + 1)) bytes, more than the 65536|part control ./md5sums xz 1 1
ahead|$deb|lzma error: Cannot allocate memory|part data $bin cat 1 128 'xz -T2 --block-size=1GiB'
stream|$tgz|its tar stream is more than the 67108864 bytes|documents 5 15M
listing|$tgz|its listing is more than the 1048576 bytes|documents 20000 0
sums|SHA256SUMS|is 1073741824 bytes, more than the 65536|truncate -s 1G SHA256SUMS
file|$deb|is 17179869184 bytes, more than the 16777216|truncate -s 16G $deb
buildinfo|$info|is 2097152 bytes, more than the 1048576|truncate -s 2M $info
TABLE
}

@test "make-release refuses a submodule, which git would ship as an empty folder" {
    git clone -q "$SOURCE" clone
    cp "$SOURCE/packaging/common.sh" clone/packaging/
    cp "$SOURCE/packaging/release/source-tarball" clone/packaging/release/
    git -C clone update-index --add --cacheinfo "160000,$(git -C clone rev-parse HEAD),sub"
    ! clone/packaging/release/source-tarball "$PWD/verdix.tar.gz" 0 2>err || false
    grep -q 'a submodule would ship as an empty folder' err
}

# linked PATH TARGET...: the checkout here with the link PATH to TARGET,
# and so on, committed.
linked() {
    local paths=()
    while [ $# -gt 0 ]; do ln -s "$2" "$1" && paths+=("$1") && shift 2; done
    git add -- "${paths[@]}" &&
        git -c user.name=verdix -c user.email=verdix@example.org commit -qm links
}

# unlinked PATH: the checkout here with PATH as git checks it out when
# core.symlinks is false.
unlinked() {
    git config core.symlinks false && rm "$1" && git checkout -q -- "$1"
}

@test "source-tarball, which make-release runs first, ships each link as a link into the tree" {
    up=packaging/release/up out=../../../etc/hostname
    while IFS='|' read -r name message craft; do
        git clone -q "$SOURCE" "$name"
        cp "$SOURCE/packaging/common.sh" "$name/packaging/"
        cp "$SOURCE/packaging/release/source-tarball" "$name/packaging/release/"
        (cd "$name" && eval "$craft")
        run "$name/packaging/release/source-tarball" "$PWD/$name.tar.gz" 0
        [ "$status" -eq 1 ] && grep -qF -- "$message" <<<"$output" && [ ! -e "$name.tar.gz" ] ||
            { echo "$name: $status: $output" >&2 && false; }
    done <<TABLE
unlinked|link is a link in git but a file in the checkout|linked link verdix.cpp && unlinked link
absolute|link is a link to /etc/hostname, which leads out of the tree|linked link /etc/hostname
up|tests/link is a link to ../../etc/hostname, which leads out|linked tests/link ../../etc/hostname
chain|link is a link to $up/$out, which leads out of the tree|linked $up ../../tests link $up/$out
TABLE
}

@test "check-release exits 1 on a refusal that it cannot say, and leaves no facts" {
    mkdir empty && echo 'version=0' >facts
    status=0
    "$SOURCE/packaging/site/check-release" empty facts 2>/dev/full || status=$?
    [ "$status" -eq 1 ] && [ ! -e facts ] || { echo "$status: $(cat facts)" >&2 && false; }
}

@test "build-in-root stops where a mirror serves an index out of step, naming index and mirror" {
    "$SOURCE/tests/proxies/out-of-step" '-security/main/binary-armhf/' >port 2>proxy.log &
    proxy=$!
    for _ in {1..100}; do [ -s port ] && break; sleep 0.1; done
    status=0
    env -u VERDIX_DEBS http_proxy="http://127.0.0.1:$(cat port)" \
        "$SOURCE/packaging/release/build-in-root" "$RELEASE/$src" \
        "$SOURCE/packaging/facts/baseline.lock" out >log 2>&1 || status=$?
    kill "$proxy"
    mirror='the mirror http://deb.debian.org/debian-security served dists/[a-z]+-security/main/'
    [ "$status" -eq 1 ] && [ ! -e out ] &&
        grep -Eq "^$mirror"'binary-armhf/[^ ]+, which does not match its InRelease' log &&
        tail -n 1 log | grep -qx "packaging/release/build-in-root: apt could not read the archive\
 whole, so nothing was built from a part of it" ||
        { tail -n 30 log >&2 && false; }
}
