#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# What a user or a distribution gets: the manual page, the installed tree,
# the packages, and executables that do not depend on where they were built.
# $SOURCE is the source tree, $BUILD a build of it, $VERSION its version,
# and $BUILD/artefacts names what it packs. $COMPILER built the executables;
# $EMULATOR, when set, runs those of a cross build.

# Every artefact is packed once with the usual umask, and once more, a
# second later, with Debian's umask for users, in a folder whose name has a
# blank and brackets.
again='again [1]'
setup_file() {
    cd "$BATS_FILE_TMPDIR" || return
    (umask 022 && pack first) && sleep 1 && (umask 002 && pack "$again")
}

# artefact KIND: the name of the build's artefact of that kind.
artefact() {
    awk -v kind="$1" '$1 == kind { print $2 }' "$BUILD/artefacts"
}

# pack DIR: the build's packages and its source tarball, in DIR.
pack() {
    if ! { cpack --config "$BUILD/CPackConfig.cmake" -B "$PWD/$1" &&
        cmake --build "$BUILD" --target source &&
        cp "$BUILD/$(artefact source)" "$1/"; } >"$1.log" 2>&1; then
        cat "$1.log" >&2
        return 1
    fi
}

setup() {
    cd "$BATS_TEST_TMPDIR" || return
    deb=$(artefact deb) rpm=$(artefact rpm) tgz=$(artefact tgz)
    src=$(artefact source)
    packed=$BATS_FILE_TMPDIR/first
}

# answers DIR: both executables in DIR answer B.
answers() {
    for exe in verdix verdix-static; do
        printf 'B' | ${EMULATOR:+"$EMULATOR"} "$1/$exe" | tail -n 1 |
            grep -qx 'You have met expectations.' || { echo "$1/$exe" >&2; false; }
    done
}

@test "the manual renders without warnings and gives every remark" {
    groff -mandoc -Tutf8 -ww -P-cbou -rLL=200n "$SOURCE/verdix.1" >page 2>warnings
    [ ! -s warnings ] || { cat warnings >&2; false; }
    while read -r remark; do
        grep -qF "$remark" page || { echo "missing: $remark" >&2; false; }
    done <<'REMARKS'
Enter your grade:
Amazing! A smart person! You have met expectations.
You need to study harder!At least you passed!
Well, they're always hiring in the army.
That's not even a proper grade!
REMARKS
}

@test "install puts the two executables and their manual in place" {
    cmake --install "$BUILD" --prefix "$PWD/p" >/dev/null
    (cd p && find . ! -type d | sort) >got
    printf '%s\n' ./bin/verdix ./bin/verdix-static \
        ./share/doc/verdix/changelog ./share/doc/verdix/copyright \
        ./share/man/man1/verdix-static.1 ./share/man/man1/verdix.1 >want
    diff want got
    [ "$(readlink p/share/man/man1/verdix-static.1)" = verdix.1 ]
    answers p/bin
}

@test "names and fields: each package is named and labelled for the machine it runs on" {
    # dpkg's own name for the compiler's target, and the other names of that
    # architecture.
    debarch=$(dpkg-architecture -t "$("$COMPILER" -dumpmachine)" -q DEB_HOST_ARCH 2>/dev/null)
    read -r rpmarch machine < <(awk -v deb="$debarch" \
        '!/^#/ && $2 == deb { print $3, $1 }' "$SOURCE/packaging/architectures")
    printf '%s\n' "deb verdix_${VERSION}_$debarch.deb" \
        "rpm verdix-$VERSION-1.$rpmarch.rpm" \
        "tgz verdix-$VERSION-linux-$machine.tar.gz" "source verdix-$VERSION.tar.gz" |
        diff - "$BUILD/artefacts"
    cd "$packed"
    dpkg-deb --field "$deb" Package Version Architecture Section >got
    printf '%s\n' 'Package: verdix' "Version: $VERSION" "Architecture: $debarch" \
        'Section: utils' | diff - got
    dpkg-deb --field "$deb" Depends | grep -Eq '^libc6 \(>= 2\.[0-9]+\)$'
    dpkg-deb --field "$deb" Maintainer | grep -q '@'
    [ "$(dpkg-deb --field "$deb" Description | wc -l)" -gt 3 ]
    rpm -qp --qf '%{NAME} %{VERSION}-%{RELEASE} %{ARCH} %{LICENSE} %{BUILDHOST}\n%{SUMMARY}\n' \
        "$rpm" >got
    printf '%s\n' "verdix $VERSION-1 $rpmarch MIT reproducible" \
        'Ask for a letter grade and answer with a remark' | diff - got
    rpm -qp --requires "$rpm" | grep -Eq '^libc\.so\.6\(GLIBC_2\.[0-9]+\)'
    [ "$(rpm -qp --qf '%{DESCRIPTION}' "$rpm" | wc -l)" -gt 3 ]
    rpm -qp --changelog "$rpm" | head -n 1 | grep -qF "> - $VERSION-1"
}

@test "contents: each package holds what is installed" {
    cd "$packed"
    dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >got
    printf '%s\n' ./usr/bin/verdix ./usr/bin/verdix-static \
        ./usr/share/doc/verdix/changelog.gz ./usr/share/doc/verdix/copyright \
        ./usr/share/lintian/overrides/verdix \
        ./usr/share/man/man1/verdix-static.1.gz \
        ./usr/share/man/man1/verdix.1.gz >want
    diff want got
    rpm -qpl "$rpm" | sort >got
    grep -v lintian want | sed 's|^\.||; s|/changelog.gz|&\n/usr/share/doc/verdix|' |
        sort | diff - got
    top=${tgz%.tar.gz}
    tar -tzf "$tgz" >listing
    [ "$(grep -cv "^$top/" listing)" -eq 0 ]
    sed "s|^$top/||; /\/$/d; /^$/d" listing | sort >got
    grep -v lintian want | sed 's|^\./usr/||' | diff - got
}

@test "modes and owners: every entry is root's, folders 0755, files 0644 or 0755" {
    tar -tvzf "$packed/$tgz" | awk '{ print $1, $2 }' | sort -u >got
    printf '%s\n' '-rw-r--r-- 0/0' '-rwxr-xr-x 0/0' 'drwxr-xr-x 0/0' \
        'lrwxrwxrwx 0/0' | diff - got
}

@test "lint: lintian and rpmlint find nothing" {
    lintian --pedantic --fail-on error,warning,pedantic "$packed/$deb" >tags 2>/dev/null &&
        [ ! -s tags ] || { cat tags >&2; false; }
    rpmlint -c "$SOURCE/packaging/rpmlint.toml" "$packed/$rpm" >lint 2>&1 &&
        grep -q ' 0 errors, 0 warnings' lint || { cat lint >&2; false; }
}

@test "reproducibility: the same bytes a second later and with another umask; a given time is honoured" {
    for artefact in "$deb" "$rpm" "$tgz" "$src"; do
        cmp "$packed/$artefact" "$BATS_FILE_TMPDIR/$again/$artefact"
    done
    SOURCE_DATE_EPOCH=86400 cpack --config "$BUILD/CPackConfig.cmake" \
        -B "$PWD" -G 'TGZ;RPM' >/dev/null 2>&1
    [ "$(tar -tvzf "$tgz" | awk '{ print $4 }' | sort -u)" = 1970-01-02 ]
    [ "$(rpm -qp --qf '%{BUILDTIME}' "$rpm")" = 86400 ]
}

@test "answers: each package's executables answer" {
    dpkg-deb --extract "$packed/$deb" deb
    gzip -t deb/usr/share/man/man1/verdix-static.1.gz
    answers deb/usr/bin
    mkdir rpm && rpm2archive - <"$packed/$rpm" | tar -C rpm -xzf -
    answers rpm/usr/bin
    tar -xzf "$packed/$tgz"
    answers "${tgz%.tar.gz}/bin"
}

@test "source: the tracked files alone, the same bytes packed again without git, and it builds" {
    top=${src%.tar.gz}
    tar -tzf "$packed/$src" >listing
    [ "$(grep -cv "^$top/" listing)" -eq 0 ]
    # From a git checkout with a stray file in it, only the tracked files.
    if [ -e "$SOURCE/.git" ]; then
        git clone -q "$SOURCE" clone
        cp "$SOURCE/packaging/source" clone/packaging/
        touch clone/id_release.pem
        clone/packaging/source "$PWD/cloned.tar.gz" 0
        tar -tzf cloned.tar.gz | sed "s|^cloned/||" >got
        git -C clone ls-files | diff - got
        git -C "$SOURCE" ls-files | sed "s|^|$top/|" | diff - listing
    fi
    # Without git, the unpacked tree builds, and packs to the same bytes.
    tar -xzf "$packed/$src"
    [ ! -e "$top/.git" ]
    cmake -S "$top" -B build >/dev/null && cmake --build build >/dev/null
    answers build
    cmake --build build --target source >/dev/null
    cmp "$packed/$src" "build/$src"
}

@test "the baseline C library is unpacked only from files with the recorded SHA256" {
    # A mirror of one small package, and a lock naming it, beside a copy of
    # the script.
    mkdir -p tools mirror/pool pkg/DEBIAN pkg/usr/lib
    cp "$SOURCE"/packaging/{sysroot,architectures} tools/
    printf '%s\n' 'Package: fake' 'Version: 1' 'Architecture: amd64' \
        'Maintainer: nobody <nobody@example.org>' 'Description: fake' >pkg/DEBIAN/control
    echo one >pkg/usr/lib/one
    dpkg-deb --root-owner-group --build pkg mirror/pool/fake.deb >/dev/null
    sum=$(sha256sum mirror/pool/fake.deb | cut -d ' ' -f 1)
    lock() {
        printf 'mirror copy://%s/mirror\namd64 pool/fake.deb %s\n' "$PWD" "$1" >tools/sysroot.lock
    }
    lock "$(echo "$sum" | tr 0-9a-f 1-9a-f0)"
    ! tools/sysroot x86_64 lib 2>err || false
    grep -q "SHA256" err && [ ! -e lib/root ]
    # The right sum: unpacked. A kept file that was changed since is
    # fetched again.
    lock "$sum"
    tools/sysroot x86_64 lib 2>err
    [ "$(cat lib/root/usr/lib/one)" = one ]
    echo changed >>lib/fake.deb
    tools/sysroot x86_64 lib 2>err
    cmp mirror/pool/fake.deb lib/fake.deb
}

@test "a packager's build keeps its flags and does not depend on its folders" {
    # Debug information names source and build folders unless mapped away.
    mkdir copy
    cp -R "$SOURCE"/{CMakeLists.txt,LICENSE,changelog,verdix.cpp,verdix.1,packaging,bench} copy/
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
