#!/usr/bin/env bats
# What a user or a distribution gets: the manual page, the installed tree,
# the packages, and executables that do not depend on where they were built.
# $SOURCE is the source tree, $BUILD a build of it.

setup() { cd "$BATS_TEST_TMPDIR"; }

@test "the manual renders without warnings and gives every remark" {
    MANWIDTH=200 man --warnings -l "$SOURCE/verdix.1" >page 2>warnings
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
        ./share/man/man1/verdix-static.1 ./share/man/man1/verdix.1 >want
    diff want got
    [ "$(readlink p/share/man/man1/verdix-static.1)" = verdix.1 ]
    printf 'F' | p/bin/verdix-static | grep -qx "Well, they're always hiring in the army."
}

@test "the .deb and .tar.gz hold what is installed, and it runs" {
    cpack --config "$BUILD/CPackConfig.cmake" -B "$PWD" >/dev/null
    deb=verdix_1.0.0_amd64.deb
    dpkg-deb --field "$deb" Package Version Architecture Section >got
    printf '%s\n' 'Package: verdix' 'Version: 1.0.0' 'Architecture: amd64' \
        'Section: utils' >want
    diff want got
    dpkg-deb --field "$deb" Depends | grep -Eq '^libc6 \(>= 2\.[0-9]+\)$'
    dpkg-deb --field "$deb" Maintainer | grep -q '@'
    [ "$(dpkg-deb --field "$deb" Description | wc -l)" -gt 3 ]
    dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >got
    printf '%s\n' ./usr/bin/verdix ./usr/bin/verdix-static \
        ./usr/share/man/man1/verdix-static.1.gz \
        ./usr/share/man/man1/verdix.1.gz >want
    diff want got
    tar -tzf verdix-1.0.0-Linux.tar.gz | grep -v '/$' | sed 's|^[^/]*/||' |
        sort >got
    sed 's|^\./usr/||' want >want.tgz
    diff want.tgz got
    dpkg-deb --extract "$deb" root
    gzip -t root/usr/share/man/man1/verdix-static.1.gz
    for exe in verdix verdix-static; do
        printf 'B' | root/usr/bin/$exe | tail -n 1 | grep -qx 'You have met expectations.'
    done
}

@test "two builds in different folders give identical executables" {
    mkdir copy
    cp -R "$SOURCE"/{CMakeLists.txt,verdix.cpp,verdix.1,cmake} copy/
    cmake -S "$SOURCE" -B one/build >/dev/null
    cmake -S copy -B two/elsewhere -G Ninja >/dev/null
    for dir in one/build two/elsewhere; do
        cmake --build "$dir" >/dev/null
    done
    cmp one/build/verdix two/elsewhere/verdix
    cmp one/build/verdix-static two/elsewhere/verdix-static
}
