#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# What a user or a distribution gets, whatever the machine: the manual page,
# the installed tree, the source tarball, the baseline C library, and
# executables that do not depend on where they were built. $SOURCE is the
# source tree, $BUILD a build of it for this machine, $VERSION its version.

setup() {
    cd "$BATS_TEST_TMPDIR" || return
    src=verdix-$VERSION.tar.gz
}

# answers DIR: both executables in DIR answer B.
answers() {
    for exe in verdix verdix-static; do
        printf 'B' | "$1/$exe" | tail -n 1 |
            grep -qx 'You have met expectations.' || { echo "$1/$exe" >&2; false; }
    done
}

@test "the manual renders without warnings, gives every remark as verdix writes it, and the changelog's date" {
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

@test "source: the tracked files alone, the same bytes packed again without git, and it builds" {
    top=${src%.tar.gz}
    tar -tzf "$BUILD/$src" >listing
    [ "$(grep -cv "^$top/" listing)" -eq 0 ]
    # From a git checkout with a stray file in it, only the tracked files.
    if [ -e "$SOURCE/.git" ]; then
        git clone -q "$SOURCE" clone
        cp "$SOURCE"/packaging/{source,tarball} clone/packaging/
        touch clone/id_release.pem
        clone/packaging/source "$PWD/cloned.tar.gz" 0
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

@test "the baseline C library is fetched and unpacked only with the recorded SHA256" {
    # A mirror of one small package, and a lock naming it, beside a copy of
    # the script.
    mkdir -p tools/packaging mirror/pool pkg/DEBIAN pkg/usr/lib
    cp "$SOURCE"/packaging/{sysroot,architectures} tools/packaging/
    printf '%s\n' 'Package: fake' 'Version: 1' 'Architecture: amd64' \
        'Maintainer: nobody <nobody@example.org>' 'Description: fake' >pkg/DEBIAN/control
    echo one >pkg/usr/lib/one
    dpkg-deb --root-owner-group --build pkg mirror/pool/fake.deb >/dev/null
    sum=$(sha256sum mirror/pool/fake.deb | cut -d ' ' -f 1)
    lock() {
        printf 'mirror copy://%s/mirror\namd64 pool/fake.deb %s\n' "$PWD" "$1" >tools/packaging/sysroot.lock
    }
    # Nothing fetched yet, or fetched with another sum: nothing unpacked.
    lock "$sum"
    ! tools/packaging/sysroot x86_64 root 2>err || false
    grep -q 'fetch the baseline C library first, with packaging/sysroot$' err
    lock "$(echo "$sum" | tr 0-9a-f 1-9a-f0)"
    ! tools/packaging/sysroot 2>err || false
    grep -q "SHA256" err
    ! tools/packaging/sysroot x86_64 root 2>err || false
    [ ! -e root/usr ]
    # The right sum: unpacked. A cached file changed since is refused, and
    # fetched again.
    lock "$sum"
    tools/packaging/sysroot 2>err
    tools/packaging/sysroot x86_64 root
    [ "$(cat root/usr/lib/one)" = one ]
    echo changed >>tools/out/sysroot/fake.deb
    ! tools/packaging/sysroot x86_64 root 2>err || false
    grep -q "does not have the SHA256 $sum" err
    tools/packaging/sysroot 2>err
    cmp mirror/pool/fake.deb tools/out/sysroot/fake.deb
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

@test "the README names every architecture of the table, and no other" {
    # shellcheck disable=SC2016 # backquotes, as the README has them
    tr '\n' ' ' <"$SOURCE/README.md" | sed -n 's/.*a `\.deb` (\([^)]*\)), an `\.rpm` (\([^)]*\)) and a tarball (named by `uname -m`: \([^)]*\)).*/\1; \2; \3\n/p' |
        tr -d '`' >listed
    "$SOURCE/packaging/architectures" |
        awk '{ deb = deb s $2; rpm = rpm s $3; machine = machine s $1; s = ", " }
            END { print deb "; " rpm "; " machine }' | diff - listed
}
