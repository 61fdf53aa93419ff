#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# The packages of one build, as its target "packages" made them in
# $BUILD/packages: a .deb, an .rpm and a binary tarball for $MACHINE of
# packaging/architectures, of the build of $SOURCE whose version and time
# are $VERSION and $EPOCH. $COMPILER built it; $EMULATOR, when set, runs a
# cross build's executables.

setup() {
    cd "$BATS_TEST_TMPDIR" || return
    packed=$BUILD/packages
    deb=$(cd "$packed" && echo *.deb) rpm=$(cd "$packed" && echo *.rpm)
    tgz=$(cd "$packed" && echo *.tar.gz)
}

# rpmq ARG...: rpm's query of the .rpm (given on standard input, as rpm
# reads a path as a pattern).
rpmq() {
    rpm -qp "$@" - <"$packed/$rpm"
}

# answers DIR: both executables in DIR answer B.
answers() {
    for exe in verdix verdix-static; do
        printf 'B' | ${EMULATOR:+"$EMULATOR"} "$1/$exe" | tail -n 1 |
            grep -qx 'You have met expectations.' || { echo "$1/$exe" >&2; false; }
    done
}

@test "names and fields: each package is named and labelled by its packer for the machine it runs on" {
    set -- "$packed"/*
    [ $# -eq 3 ]
    read -r machine debarch rpmarch _ < <("$SOURCE/packaging/architectures" "$MACHINE")
    # The table agrees with dpkg's own name for the compiler's target.
    [ "$(dpkg-architecture -t "$("$COMPILER" -dumpmachine)" -q DEB_HOST_ARCH 2>/dev/null)" = "$debarch" ]
    version=$(dpkg-parsechangelog -l "$SOURCE/changelog" -S Version)
    dpkg-deb --field "$packed/$deb" Package Version Architecture >got
    printf '%s\n' 'Package: verdix' "Version: $version" "Architecture: $debarch" | diff - got
    [ "$deb" = "verdix_${version}_$debarch.deb" ]
    rpmq --qf '%{NAME} %{VERSION} %{ARCH} %{BUILDHOST}\n%{SUMMARY}\n' >got
    printf '%s\n' "verdix $version $rpmarch reproducible" \
        "$(dpkg-deb --field "$packed/$deb" Description | head -n 1)" | diff - got
    [ "$rpm" = "$(rpmq --qf 'verdix-%{VERSION}-%{RELEASE}.%{ARCH}.rpm')" ]
    rpmq --changelog | head -n 1 | grep -qF "> - $version-$(rpmq --qf '%{RELEASE}')"
    [ "$tgz" = "verdix-$version-linux-$machine.tar.gz" ]
    dpkg-deb --field "$packed/$deb" Depends | grep -Eq '^libc6 \(>= 2\.[0-9]+\)$'
    rpmq --requires | grep -Eq '^libc\.so\.6\(GLIBC_2\.[0-9]+\)'
    # The C library in verdix-static, named alike by both, and in the
    # copyright file with its licence.
    glibc=$(dpkg-deb --field "$packed/$deb" Built-Using | sed -n 's/^glibc (= \([0-9][^)]*\))$/\1/p')
    rpmq --provides | grep -qx "bundled(glibc) = ${glibc%%-*}"
    dpkg-deb --fsys-tarfile "$packed/$deb" | tar -xO ./usr/share/doc/verdix/copyright >copyright
    grep -qx 'License: LGPL-2.1+' copyright && grep -qF "glibc $glibc," copyright
    rpmq --qf '%{LICENSE}' | grep -q 'LGPL-2.1-or-later'
    rpmq --qf '[%{FILEFLAGS:fflags} %{FILENAMES}\n]' | grep -Eqx '[a-z]*l[a-z]* /usr/share/doc/verdix/copyright'
}

@test "contents: each package holds what is installed, with modes and owners as a distribution's" {
    dpkg-deb --contents "$packed/$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >got
    printf '%s\n' ./usr/bin/verdix ./usr/bin/verdix-static \
        ./usr/share/doc/verdix/changelog.gz ./usr/share/doc/verdix/copyright \
        ./usr/share/lintian/overrides/verdix \
        ./usr/share/man/man1/verdix-static.1.gz \
        ./usr/share/man/man1/verdix.1.gz >want
    diff want got
    rpmq -l | sort >got
    grep -v lintian want | sed 's|^\.||; s|/changelog.gz|&\n/usr/share/doc/verdix|' |
        sort | diff - got
    top=${tgz%.tar.gz}
    tar -tzf "$packed/$tgz" >listing
    [ "$(grep -cv "^$top/" listing)" -eq 0 ]
    sed "s|^$top/||; /\/$/d; /^$/d" listing | sort >got
    grep -v lintian want | sed 's|^\./usr/||' | diff - got
    { dpkg-deb --contents "$packed/$deb" && tar -tvzf "$packed/$tgz"; } |
        awk '{ print $1, $2 }' | sort -u >got
    printf '%s\n' '-rw-r--r-- root/root' '-rwxr-xr-x root/root' 'drwxr-xr-x root/root' \
        'lrwxrwxrwx root/root' '-rw-r--r-- 0/0' '-rwxr-xr-x 0/0' 'drwxr-xr-x 0/0' \
        'lrwxr-xr-x 0/0' | sort | diff - got
}

@test "lint: lintian and rpmlint find nothing" {
    lintian --pedantic --fail-on error,warning,pedantic "$packed/$deb" >tags 2>/dev/null &&
        [ ! -s tags ] || { cat tags >&2; false; }
    rpmlint -c "$SOURCE/packaging/rpmlint.toml" "$packed/$rpm" >lint 2>&1 &&
        grep -q ' 0 errors, 0 warnings' lint || { cat lint >&2; false; }
}

@test "reproducibility: the same bytes a second later with another umask, and from the .deb's own contents; a given time is honoured" {
    sleep 1
    (umask 002 && "$SOURCE/packaging/pack" "$BUILD" "$MACHINE" "$VERSION" "$EPOCH" "$PWD/again [1]")
    for artefact in "$deb" "$rpm" "$tgz"; do
        cmp "$packed/$artefact" "again [1]/$artefact"
    done
    dpkg-deb -R "$packed/$deb" unpacked
    SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$SOURCE/changelog" -S Timestamp) \
        dpkg-deb --root-owner-group -b unpacked rebuilt.deb >/dev/null
    cmp "$packed/$deb" rebuilt.deb
    SOURCE_DATE_EPOCH=86400 "$SOURCE/packaging/pack" "$BUILD" "$MACHINE" "$VERSION" "$EPOCH" old
    [ "$(tar -tvzf "old/$tgz" | awk '{ print $4 }' | sort -u)" = 1970-01-02 ]
    [ "$(rpm -qp --qf '%{BUILDTIME}' "old/$rpm")" = 86400 ]
}

@test "answers: each package's executables answer, with the manual page of the build" {
    dpkg-deb --extract "$packed/$deb" deb
    mkdir rpm && rpm2archive - <"$packed/$rpm" | tar -C rpm -xzf -
    tar -xzf "$packed/$tgz"
    for usr in deb/usr rpm/usr "${tgz%.tar.gz}"; do
        answers "$usr/bin"
        zcat "$usr/share/man/man1/verdix-static.1.gz" | cmp - "$BUILD/verdix.1"
    done
}
