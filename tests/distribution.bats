#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# What a user or a distribution gets: the manual page, the installed tree,
# the packages, and executables that do not depend on where they were built.
# $SOURCE is the source tree, $BUILD a build of it.

setup() { cd "$BATS_TEST_TMPDIR"; }

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
    printf 'F' | p/bin/verdix-static | grep -qx "Well, they're always hiring in the army."
}

@test "the .deb and .tar.gz hold what is installed, are lintian-clean, reproducible, and run" {
    cpack --config "$BUILD/CPackConfig.cmake" -B "$PWD" >/dev/null 2>&1
    deb=verdix_1.1.0_amd64.deb tgz=verdix-1.1.0-Linux.tar.gz
    dpkg-deb --field "$deb" Package Version Architecture Section >got
    printf '%s\n' 'Package: verdix' 'Version: 1.1.0' 'Architecture: amd64' \
        'Section: utils' >want
    diff want got
    dpkg-deb --field "$deb" Depends | grep -Eq '^libc6 \(>= 2\.[0-9]+\)$'
    dpkg-deb --field "$deb" Maintainer | grep -q '@'
    [ "$(dpkg-deb --field "$deb" Description | wc -l)" -gt 3 ]
    dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >got
    printf '%s\n' ./usr/bin/verdix ./usr/bin/verdix-static \
        ./usr/share/doc/verdix/changelog.gz ./usr/share/doc/verdix/copyright \
        ./usr/share/lintian/overrides/verdix \
        ./usr/share/man/man1/verdix-static.1.gz \
        ./usr/share/man/man1/verdix.1.gz >want
    diff want got
    tar -tzf "$tgz" | grep -v '/$' | sed 's|^verdix-1.1.0-Linux/||' | sort >got
    grep -v lintian want | sed 's|^\./usr/||' >want.tgz
    diff want.tgz got
    lintian --pedantic --fail-on error,warning,pedantic "$deb" >tags 2>/dev/null &&
        [ ! -s tags ] || { cat tags >&2; false; }
    # A second run, a second later, gives the same bytes; a timestamp set
    # by hand is honoured.
    mkdir again && sleep 1
    cpack --config "$BUILD/CPackConfig.cmake" -B "$PWD/again" >/dev/null 2>&1
    cmp "$deb" "again/$deb"
    cmp "$tgz" "again/$tgz"
    SOURCE_DATE_EPOCH=86400 cpack --config "$BUILD/CPackConfig.cmake" \
        -B "$PWD/set" -G TGZ >/dev/null 2>&1
    [ "$(tar -tvzf "set/$tgz" | awk '{ print $4 }' | sort -u)" = 1970-01-02 ]
    dpkg-deb --extract "$deb" root
    gzip -t root/usr/share/man/man1/verdix-static.1.gz
    for exe in verdix verdix-static; do
        printf 'B' | root/usr/bin/$exe | tail -n 1 | grep -qx 'You have met expectations.'
    done
}

# fortify BUILD: the last word on _FORTIFY_SOURCE in verdix's compile
# command, which is the one that holds.
fortify() {
    grep -F '"command"' "$1/compile_commands.json" | grep -F /verdix.dir/ |
        grep -o -- '-[DU]_FORTIFY_SOURCE[=0-9]*' | tail -n 1
}

@test "a packager's build keeps its flags and does not depend on its folders" {
    # Debug information names source and build folders unless mapped away.
    mkdir copy
    cp -R "$SOURCE"/{CMakeLists.txt,LICENSE,changelog,verdix.cpp,verdix.1,packaging} copy/
    export CXXFLAGS=-D_FORTIFY_SOURCE=3
    configure=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)
    cmake -S "$SOURCE" -B one/build "${configure[@]}" >/dev/null
    cmake -S copy -B two/elsewhere -G Ninja "${configure[@]}" >/dev/null
    for dir in one/build two/elsewhere; do
        cmake --build "$dir" >/dev/null
        [ "$(fortify "$dir")" = -D_FORTIFY_SOURCE=3 ]
    done
    readelf -SW one/build/verdix | grep -q '\.debug_info'
    cmp one/build/verdix two/elsewhere/verdix
    cmp one/build/verdix-static two/elsewhere/verdix-static
}
