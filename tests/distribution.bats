#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# What a user or a distribution gets: the manual page, the installed tree,
# the packages, and executables that do not depend on where they were built.
# $SOURCE is the source tree, $BUILD a build of it; $EMULATOR, when set,
# runs the executables of a cross build.

setup() {
    cd "$BATS_TEST_TMPDIR"
    export LC_ALL=C # the expected lists below are in byte order
}

# answers DIR: both executables in DIR answer B.
answers() {
    for exe in verdix verdix-static; do
        printf 'B' | $EMULATOR "$1/$exe" | tail -n 1 |
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

@test "the packages hold what is installed, are lint-clean, reproducible, and run" {
    # Each package is named and labelled for the machine that the
    # executables were built for, as each packaging system names it.
    machine=$(readelf -hW "$BUILD/verdix" | sed -n 's/^ *Machine: *//p')
    case $machine in
    'Advanced Micro Devices X86-64') debarch=amd64 rpmarch=x86_64 ;;
    AArch64) debarch=arm64 rpmarch=aarch64 ;;
    *) echo "no package names for $machine" >&2; false ;;
    esac
    deb=verdix_1.2.0_$debarch.deb rpm=verdix-1.2.0-1.$rpmarch.rpm
    tgz=verdix-1.2.0-linux-$rpmarch.tar.gz src=verdix-1.2.0.tar.gz
    # Packed with the usual umask, and below again with Debian's umask for
    # users.
    (umask 022 && cpack --config "$BUILD/CPackConfig.cmake" -B "$PWD" &&
        cpack --config "$BUILD/CPackSourceConfig.cmake" -B "$PWD") >/dev/null 2>&1
    dpkg-deb --field "$deb" Package Version Architecture Section >got
    printf '%s\n' 'Package: verdix' 'Version: 1.2.0' "Architecture: $debarch" \
        'Section: utils' >want
    diff want got
    dpkg-deb --field "$deb" Depends | grep -Eq '^libc6 \(>= 2\.[0-9]+\)$'
    dpkg-deb --field "$deb" Maintainer | grep -q '@'
    [ "$(dpkg-deb --field "$deb" Description | wc -l)" -gt 3 ]
    rpm -qp --qf '%{NAME} %{VERSION}-%{RELEASE} %{ARCH} %{LICENSE} %{BUILDHOST}\n%{SUMMARY}\n' \
        "$rpm" >got
    printf '%s\n' "verdix 1.2.0-1 $rpmarch MIT reproducible" \
        'Ask for a letter grade and answer with a remark' >want
    diff want got
    rpm -qp --requires "$rpm" | grep -Eq '^libc\.so\.6\(GLIBC_2\.[0-9]+\)\(64bit\)$'
    [ "$(rpm -qp --qf '%{DESCRIPTION}' "$rpm" | wc -l)" -gt 3 ]
    rpm -qp --changelog "$rpm" | head -n 1 | grep -q '> - 1\.2\.0-1$'
    # What each holds. Every entry of the tarball is root's, its folders
    # 0755 and its files 0644 or 0755.
    dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >got
    printf '%s\n' ./usr/bin/verdix ./usr/bin/verdix-static \
        ./usr/share/doc/verdix/changelog.gz ./usr/share/doc/verdix/copyright \
        ./usr/share/lintian/overrides/verdix \
        ./usr/share/man/man1/verdix-static.1.gz \
        ./usr/share/man/man1/verdix.1.gz >want
    diff want got
    rpm -qpl "$rpm" | sort >got
    grep -v lintian want | sed 's|^\.||; s|/changelog.gz|&\n/usr/share/doc/verdix|' |
        sort >want.rpm
    diff want.rpm got
    tar -tvzf "$tgz" >listing
    [ -z "$(awk '{ print $6 }' listing | grep -v "^verdix-1.2.0-linux-$rpmarch/")" ]
    sed 's|^.* verdix-1.2.0-linux-'"$rpmarch"'/||; /\/$/d; /^$/d; s| -> .*||' listing |
        sort >got
    grep -v lintian want | sed 's|^\./usr/||' >want.tgz
    diff want.tgz got
    awk '{ print $1, $2 }' listing | sort -u >got
    printf '%s\n' '-rw-r--r-- 0/0' '-rwxr-xr-x 0/0' 'drwxr-xr-x 0/0' \
        'lrwxrwxrwx 0/0' >want
    diff want got
    lintian --pedantic --fail-on error,warning,pedantic "$deb" >tags 2>/dev/null &&
        [ ! -s tags ] || { cat tags >&2; false; }
    rpmlint -c "$SOURCE/packaging/rpmlint.toml" "$rpm" >lint 2>&1 &&
        grep -q ' 0 errors, 0 warnings' lint || { cat lint >&2; false; }
    # A second run, a second later and with another umask, gives the same
    # bytes; a timestamp set by hand is honoured.
    mkdir again && sleep 1
    (umask 002 && cpack --config "$BUILD/CPackConfig.cmake" -B "$PWD/again" &&
        cpack --config "$BUILD/CPackSourceConfig.cmake" -B "$PWD/again") >/dev/null 2>&1
    for package in "$deb" "$rpm" "$tgz" "$src"; do
        cmp "$package" "again/$package"
    done
    SOURCE_DATE_EPOCH=86400 cpack --config "$BUILD/CPackConfig.cmake" \
        -B "$PWD/set" -G 'TGZ;RPM' >/dev/null 2>&1
    [ "$(tar -tvzf "set/$tgz" | awk '{ print $4 }' | sort -u)" = 1970-01-02 ]
    [ "$(rpm -qp --qf '%{BUILDTIME}' "set/$rpm")" = 86400 ]
    # Each package's executables answer.
    dpkg-deb --extract "$deb" deb
    gzip -t deb/usr/share/man/man1/verdix-static.1.gz
    answers deb/usr/bin
    mkdir rpm && rpm2archive - <"$rpm" | tar -C rpm -xzf -
    answers rpm/usr/bin
    tar -xzf "$tgz"
    answers "verdix-1.2.0-linux-$rpmarch/bin"
    # The source unpacks into its own folder and builds there, without git.
    [ -z "$(tar -tzf "$src" | grep -v '^verdix-1\.2\.0/')" ]
    tar -xzf "$src"
    [ ! -e verdix-1.2.0/.git ] && [ ! -e verdix-1.2.0/out ]
    cmake -S verdix-1.2.0 -B build >/dev/null && cmake --build build >/dev/null
    answers build
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
    cp -R "$SOURCE"/{CMakeLists.txt,LICENSE,changelog,verdix.cpp,verdix.1,packaging,bench} copy/
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
