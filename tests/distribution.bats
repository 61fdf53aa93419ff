#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# What a user or a distribution gets, once for all machines: the manual
# page, the installed tree, the source tarball, the baseline C library,
# executables that do not depend on where they were built, and a README
# that names every machine. $SOURCE is the source tree, $BUILD a native
# build of it, at $VERSION.

setup() {
    cd "$BATS_TEST_TMPDIR" || return
}

# answers DIR: both executables in DIR answer B.
answers() {
    for exe in verdix verdix-static; do
        printf 'B' | "$1/$exe" | tail -n 1 | grep -qx 'You have met expectations.' || { echo "$1/$exe" >&2; false; }
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

@test "distribution: install puts the two executables, their manual and the licences of what they hold in place" {
    cmake --install "$BUILD" --prefix "$PWD/p" >/dev/null
    (cd p && find . ! -type d | sort) >got
    printf '%s\n' ./bin/verdix ./bin/verdix-static ./share/doc/verdix/changelog \
        ./share/licenses/verdix/LGPL-2.1-or-later.txt ./share/licenses/verdix/MIT.txt \
        ./share/man/man1/verdix-static.1 ./share/man/man1/verdix.1 >want
    diff want got
    [ "$(readlink p/share/man/man1/verdix-static.1)" = verdix.1 ]
    answers p/bin
}

@test "distribution: source: the tracked files alone, the same bytes packed again without git, and it builds" {
    src=verdix-$VERSION.tar.gz top=verdix-$VERSION
    "$SOURCE/packaging/release/source-tarball" "$PWD/$src" "$EPOCH"
    tar -tzf "$src" >listing
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
    mkdir unpacked && tar -C unpacked -xzf "$src"
    [ ! -e "unpacked/$top/.git" ]
    cmake -S "unpacked/$top" -B build >/dev/null && cmake --build build >/dev/null
    answers build
    mkdir again && "unpacked/$top/packaging/release/source-tarball" "$PWD/again/$src" "$EPOCH"
    cmp "$src" "again/$src"
}

@test "distribution: the baseline C library is fetched from the first mirror that has it, and only with the recorded SHA256" {
    # A mirror of one small package, and a lock naming it after a mirror
    # that cannot be reached, beside a copy of the script.
    mkdir -p tools/packaging/{facts,release} mirror/pool/main/f pkg/DEBIAN
    cp "$SOURCE"/packaging/common.sh tools/packaging/
    cp "$SOURCE"/packaging/release/fetch-baseline tools/packaging/release/
    printf '%s\n' 'Package: fake' 'Version: 1' 'Architecture: amd64' \
        'Maintainer: nobody <nobody@example.org>' 'Description: fake' >pkg/DEBIAN/control
    dpkg-deb --root-owner-group --build pkg mirror/pool/main/f/fake.deb >/dev/null
    sum=$(sha256sum mirror/pool/main/f/fake.deb | cut -d ' ' -f 1)
    closed=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    lock() {
        printf 'mirror http://127.0.0.1:%s/debian\nmirror copy://%s/mirror\namd64 pool/main/f/fake.deb %s\n' \
            "$closed" "$PWD" "$1" >tools/packaging/facts/baseline.lock
    }
    # Another sum: refused, and nothing kept.
    lock "$(echo "$sum" | tr 0-9a-f 1-9a-f0)"
    ! tools/packaging/release/fetch-baseline 2>err || false
    grep -q "cannot fetch pool/main/f/fake.deb with SHA256" err
    [ ! -e tools/out/baseline/fake.deb ]
    # The right sum: from the second mirror. A cached file changed since is
    # fetched again.
    lock "$sum"
    tools/packaging/release/fetch-baseline 2>err
    grep -q "127.0.0.1:$closed" err
    cmp mirror/pool/main/f/fake.deb tools/out/baseline/fake.deb
    echo changed >>tools/out/baseline/fake.deb
    tools/packaging/release/fetch-baseline 2>err
    cmp mirror/pool/main/f/fake.deb tools/out/baseline/fake.deb
}

@test "distribution: a packager's build keeps its flags and does not depend on its folders" {
    # Debug information names source and build folders unless mapped away.
    mkdir copy
    cp -R "$SOURCE"/{CMakeLists.txt,LICENSES,changelog,verdix.cpp,verdix.1,cmake,bench} copy/
    export CXXFLAGS=-D_FORTIFY_SOURCE=3
    configure=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)
    cmake -S "$SOURCE" -B one/build "${configure[@]}" >/dev/null
    cmake -S copy -B two/elsewhere -G Ninja "${configure[@]}" >/dev/null
    for dir in one/build two/elsewhere; do
        cmake --build "$dir" >/dev/null
        [ "$("$BATS_TEST_DIRNAME/fortify-level" "$PWD/$dir/compile_commands.json" \
            "$PWD/$dir/CMakeFiles/verdix.dir/verdix.cpp.o")" = '3 yes' ]
    done
    readelf -SW one/build/verdix | grep -q '\.debug_info'
    cmp one/build/verdix two/elsewhere/verdix
    cmp one/build/verdix-static two/elsewhere/verdix-static
}

@test "distribution: the README has a row for every machine of the table, and no other" {
    tr -d '`' <"$SOURCE/README.md" | awk -F ' *[|] *' 'NF == 8 && $3 != "---" && $3 != ".deb" { print $3, $4, $5 }' >rows
    awk '!/^#/ && NF { print $2, $3, $1 }' "$SOURCE/packaging/facts/architectures" | diff - rows
}
