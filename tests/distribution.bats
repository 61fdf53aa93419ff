#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# What a user or a distribution gets: the manual page, the installed tree,
# the packages, and executables that do not depend on where they were built.
# $SOURCE is the source tree, $BUILD a build of it for $MACHINE of
# packaging/facts/architectures, whose target "packages" made its packages in
# $BUILD/packages; $VERSION and $EPOCH are its version and time. $COMPILER
# built the executables, verdix-static with the C library $LIBC; $EMULATOR,
# when set, runs those of a cross build.
# The tests named "package: ..." are of the packages, and run for every
# machine; those named "distribution: ..." run once.

setup() {
    cd "$BATS_TEST_TMPDIR" || return
    packed=$BUILD/packages
    deb=$(cd "$packed" && echo *.deb) rpm=$(cd "$packed" && echo *.rpm)
    tgz=$(cd "$packed" && echo *.tar.gz) src=verdix-$VERSION.tar.gz
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

@test "distribution: the manual renders without warnings, gives every remark as verdix writes it, and the changelog's date" {
    groff -mandoc -Tutf8 -ww -P-cbou -rLL=200n "$BUILD/verdix.1" >page 2>warnings
    [ ! -s warnings ] || { cat warnings >&2; false; }
    for grade in A B C D F E; do
        printf '%s' "$grade" | "$BUILD/verdix" >out
        while read -r remark; do
            grep -qF "$remark" page || { echo "missing: $remark" >&2; false; }
        done <out
    done
    [ "$(grep '^\.Dd ' "$BUILD/verdix.1")" = ".Dd $(date -d "$(dpkg-parsechangelog -l "$SOURCE/changelog" -S Date)" '+%B %-d, %Y')" ]
}

@test "distribution: install puts the two executables and their manual in place" {
    cmake --install "$BUILD" --prefix "$PWD/p" >/dev/null
    (cd p && find . ! -type d | sort) >got
    printf '%s\n' ./bin/verdix ./bin/verdix-static \
        ./share/doc/verdix/changelog ./share/doc/verdix/copyright \
        ./share/man/man1/verdix-static.1 ./share/man/man1/verdix.1 >want
    diff want got
    [ "$(readlink p/share/man/man1/verdix-static.1)" = verdix.1 ]
    answers p/bin
}

@test "package: names and fields: each package is named and labelled by its packer for the machine it runs on" {
    set -- "$packed"/*
    [ $# -eq 3 ]
    read -r machine debarch rpmarch _ < <("$SOURCE/packaging/facts/architectures" "$MACHINE")
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
    [ "$glibc" = "$(dpkg-query -W -f '${source:Version}' "libc6-dev:$debarch")" ]
    rpmq --provides | grep -qx "bundled(glibc) = ${glibc%%-*}"
    dpkg-deb --fsys-tarfile "$packed/$deb" | tar -xO ./usr/share/doc/verdix/copyright >copyright
    grep -qx 'License: LGPL-2.1+' copyright && grep -qF "glibc $glibc," copyright
    rpmq --qf '%{LICENSE}' | grep -q 'LGPL-2.1-or-later'
    rpmq --qf '[%{FILEFLAGS:fflags} %{FILENAMES}\n]' | grep -Eqx '[a-z]*l[a-z]* /usr/share/doc/verdix/copyright'
}

@test "package: contents: each package holds what is installed" {
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
}

@test "package: modes and owners: every entry is root's, folders 0755, files 0644 or 0755" {
    tar -tvzf "$packed/$tgz" | awk '{ print $1, $2 }' | sort -u >got
    printf '%s\n' '-rw-r--r-- 0/0' '-rwxr-xr-x 0/0' 'drwxr-xr-x 0/0' \
        'lrwxr-xr-x 0/0' | diff - got
}

@test "package: lint: lintian and rpmlint find nothing" {
    lintian --pedantic --fail-on error,warning,pedantic "$packed/$deb" >tags 2>/dev/null &&
        [ ! -s tags ] || { cat tags >&2; false; }
    rpmlint -c "$SOURCE/packaging/pack/rpmlint.toml" "$packed/$rpm" >lint 2>&1 &&
        grep -q ' 0 errors, 0 warnings' lint || { cat lint >&2; false; }
}

@test "package: reproducibility: the same bytes a second later with another umask, and from the .deb's own contents; a given time is honoured" {
    sleep 1
    (umask 002 && "$SOURCE/packaging/pack/pack" "$BUILD" "$MACHINE" "$GLIBC" "$VERSION" "$EPOCH" "$PWD/again [1]")
    for artefact in "$deb" "$rpm" "$tgz"; do
        cmp "$packed/$artefact" "again [1]/$artefact"
    done
    # (dpkg-deb -R gives the top folder the time it unpacks at.)
    dpkg-deb -R "$packed/$deb" unpacked
    epoch=$(dpkg-parsechangelog -l "$SOURCE/changelog" -S Timestamp)
    touch -d "@$epoch" unpacked
    SOURCE_DATE_EPOCH=$epoch dpkg-deb --root-owner-group -b unpacked rebuilt.deb >/dev/null
    cmp "$packed/$deb" rebuilt.deb
    SOURCE_DATE_EPOCH=86400 "$SOURCE/packaging/pack/pack" "$BUILD" "$MACHINE" "$GLIBC" "$VERSION" "$EPOCH" old
    [ "$(tar -tvzf "old/$tgz" | awk '{ print $4 }' | sort -u)" = 1970-01-02 ]
    [ "$(rpm -qp --qf '%{BUILDTIME}' "old/$rpm")" = 86400 ]
}

@test "package: answers: each package's executables answer, with the manual page of the build" {
    dpkg-deb --extract "$packed/$deb" deb
    mkdir rpm && rpm2archive - <"$packed/$rpm" | tar -C rpm -xzf -
    tar -xzf "$packed/$tgz"
    for usr in deb/usr rpm/usr "${tgz%.tar.gz}"; do
        answers "$usr/bin"
        zcat "$usr/share/man/man1/verdix-static.1.gz" | cmp - "$BUILD/verdix.1"
    done
}

@test "distribution: source: the tracked files alone, the same bytes packed again without git, and it builds" {
    top=${src%.tar.gz}
    tar -tzf "$BUILD/$src" >listing
    [ "$(grep -cv "^$top/" listing)" -eq 0 ]
    # From a git checkout with a stray file in it, only the tracked files.
    if [ -e "$SOURCE/.git" ]; then
        git clone -q "$SOURCE" clone
        mkdir -p clone/packaging/release clone/packaging/pack
        cp "$SOURCE"/packaging/common.sh clone/packaging/
        cp "$SOURCE"/packaging/release/source-tarball clone/packaging/release/
        cp "$SOURCE"/packaging/pack/tarball clone/packaging/pack/
        touch clone/id_release.pem
        clone/packaging/release/source-tarball "$PWD/cloned.tar.gz" 0
        tar -tzf cloned.tar.gz | sed "s|^cloned/||" >got
        git -C clone ls-files | diff - got
        git -C "$SOURCE" ls-files | sed "s|^|$top/|" | diff - listing
    fi
    # Without git, the unpacked tree builds, and packs to the same bytes.
    tar -xzf "$BUILD/$src"
    [ ! -e "$top/.git" ]
    cmake -S "$top" -B build >/dev/null && cmake --build build >/dev/null
    answers build
    cmake --build build --target source >/dev/null
    cmp "$BUILD/$src" "build/$src"
}

@test "distribution: the baseline C library is fetched and unpacked only with the recorded SHA256" {
    # A mirror of one small package, and a lock naming it, beside a copy of
    # the script.
    mkdir -p tools/packaging/{facts,release,pack} mirror/pool pkg/DEBIAN pkg/usr/lib
    cp "$SOURCE"/packaging/common.sh tools/packaging/
    cp "$SOURCE"/packaging/facts/architectures tools/packaging/facts/
    cp "$SOURCE"/packaging/release/fetch-baseline tools/packaging/release/
    cp "$SOURCE"/packaging/pack/unpack-baseline tools/packaging/pack/
    printf '%s\n' 'Package: fake' 'Version: 1' 'Architecture: amd64' \
        'Maintainer: nobody <nobody@example.org>' 'Description: fake' >pkg/DEBIAN/control
    echo one >pkg/usr/lib/one
    dpkg-deb --root-owner-group --build pkg mirror/pool/fake.deb >/dev/null
    sum=$(sha256sum mirror/pool/fake.deb | cut -d ' ' -f 1)
    lock() {
        printf 'mirror copy://%s/mirror\namd64 pool/fake.deb %s\n' "$PWD" "$1" >tools/packaging/facts/baseline.lock
    }
    # Nothing fetched yet, or fetched with another sum: nothing unpacked.
    lock "$sum"
    ! tools/packaging/pack/unpack-baseline x86_64 root 2>err || false
    grep -q 'fetch the baseline C library first, with packaging/release/fetch-baseline$' err
    lock "$(echo "$sum" | tr 0-9a-f 1-9a-f0)"
    ! tools/packaging/release/fetch-baseline 2>err || false
    grep -q "SHA256" err
    ! tools/packaging/pack/unpack-baseline x86_64 root 2>err || false
    [ ! -e root/usr ]
    # The right sum: unpacked. A cached file changed since is refused, and
    # fetched again.
    lock "$sum"
    tools/packaging/release/fetch-baseline 2>err
    tools/packaging/pack/unpack-baseline x86_64 root
    [ "$(cat root/usr/lib/one)" = one ]
    echo changed >>tools/out/baseline/fake.deb
    ! tools/packaging/pack/unpack-baseline x86_64 root 2>err || false
    grep -q "does not have the SHA256 $sum" err
    tools/packaging/release/fetch-baseline 2>err
    cmp mirror/pool/fake.deb tools/out/baseline/fake.deb
}

@test "distribution: a packager's build keeps its flags and does not depend on its folders" {
    # Debug information names source and build folders unless mapped away.
    mkdir copy
    cp -R "$SOURCE"/{CMakeLists.txt,LICENSE,changelog,verdix.cpp,verdix.1,cmake,packaging,bench} copy/
    export CXXFLAGS=-D_FORTIFY_SOURCE=3
    configure=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)
    cmake -S "$SOURCE" -B one/build "${configure[@]}" >/dev/null
    cmake -S copy -B two/elsewhere -G Ninja "${configure[@]}" >/dev/null
    for dir in one/build two/elsewhere; do
        cmake --build "$dir" >/dev/null
        [ "$("$BATS_TEST_DIRNAME/fortify-level" "$PWD/$dir/compile_commands.json" \
            "$PWD/$dir/CMakeFiles/verdix.dir/verdix.cpp.o")" = 3 ]
    done
    readelf -SW one/build/verdix | grep -q '\.debug_info'
    cmp one/build/verdix two/elsewhere/verdix
    cmp one/build/verdix-static two/elsewhere/verdix-static
}

@test "distribution: the README names every architecture of the table, and no other" {
    # shellcheck disable=SC2016 # backquotes, as the README has them
    tr '\n' ' ' <"$SOURCE/README.md" | sed -n 's/.*a `\.deb` (\([^)]*\)), an `\.rpm` (\([^)]*\)) and a tarball (named by `uname -m`: \([^)]*\)).*/\1; \2; \3\n/p' |
        tr -d '`' >listed
    "$SOURCE/packaging/facts/architectures" |
        awk '{ deb = deb s $2; rpm = rpm s $3; machine = machine s $1; s = ", " }
            END { print deb "; " rpm "; " machine }' | diff - listed
}
