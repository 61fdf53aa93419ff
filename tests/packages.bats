#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# What a machine's release is: its executables as the README says, the C
# libraries they link, and what a user of each packaging system gets: the
# .deb, the .rpm and the binary tarball that the release's build-machines
# packed in $PACKAGES from an install of $BUILD, a build for $MACHINE of
# packaging/facts/architectures at $VERSION, by $COMPILER, whose verdix
# compiled into $OBJECT, against the baseline C library of glibc $BASELINE
# when it is set; $EMULATOR, when set, runs a cross build's executables.

load relink

setup() {
    cd "$BATS_TEST_TMPDIR" || return
    read -r _ debarch rpmarch _ < <(awk -v machine="$MACHINE" '$1 == machine' "$SOURCE/packaging/facts/architectures")
    deb=verdix_${VERSION}_$debarch.deb rpm=verdix-$VERSION-1.$rpmarch.rpm tgz=verdix-$VERSION-linux-$MACHINE.tar.gz
}

# rpmq ARG...: rpm's query of the .rpm (given on standard input, as rpm
# reads a path as a pattern).
rpmq() {
    rpm -qp "$@" - <"$PACKAGES/$rpm"
}

# answers DIR: both executables in DIR answer B.
answers() {
    for exe in verdix verdix-static; do
        printf 'B' | ${EMULATOR:+"$EMULATOR"} "$1/$exe" | tail -n 1 |
            grep -qx 'You have met expectations.' || { echo "$1/$exe" >&2; false; }
    done
}

@test "package: names and fields: each package is named and labelled by its packer for the machine it runs on" {
    [ "$(cd "$PACKAGES" && echo *)" = "$rpm $tgz $deb" ]
    dpkg-deb --field "$PACKAGES/$deb" Package Version Architecture >got
    printf '%s\n' 'Package: verdix' "Version: $VERSION" "Architecture: $debarch" | diff - got
    # The .rpm's packager, summary and description: the .deb's maintainer
    # and description, in rpm's form (a line "." of Debian's is empty).
    rpmq --qf '%{NAME} %{EPOCH} %{VERSION} %{RELEASE} %{ARCH} %{BUILDHOST}\n%{PACKAGER}\n' >got
    rpmq --qf '%{SUMMARY}\n%{DESCRIPTION}\n' >>got
    {
        echo "verdix (none) $VERSION 1 $rpmarch reproducible"
        dpkg-deb --field "$PACKAGES/$deb" Maintainer
        dpkg-deb --field "$PACKAGES/$deb" Description | sed '2,$ { s/^ //; s/^\.$// }'
    } | diff - got
    rpmq --changelog | head -n 1 | grep -qF "> - $VERSION-1"
    dpkg-deb --field "$PACKAGES/$deb" Depends | grep -Eq '^libc6 \(>= 2\.[0-9]+\)$'
    rpmq --requires | grep -Eq '^libc\.so\.6\(GLIBC_2\.[0-9]+\)'
    # The C library in verdix-static, named alike by both.
    glibc=$(dpkg-query -W -f '${source:Version}' "libc6-dev:$debarch")
    [ "$(dpkg-deb --field "$PACKAGES/$deb" Built-Using)" = "glibc (= $glibc)" ]
    rpmq --provides | grep -qx "bundled(glibc) = ${glibc%%-*}"
    rpmq --qf '%{LICENSE}' | grep -qx 'MIT AND LGPL-2.1-or-later'
}

@test "package: contents: each holds what is installed, root's, 0755 or 0644, the licences' texts, a copyright file that names each file where it is, and executables that answer, with the manual of the build" {
    common='bin/verdix bin/verdix-static share/doc/verdix/changelog.gz share/doc/verdix/copyright
        share/man/man1/verdix-static.1.gz share/man/man1/verdix.1.gz'
    licences='share/licenses/verdix/LGPL-2.1-or-later.txt share/licenses/verdix/MIT.txt'
    dpkg-deb --contents "$PACKAGES/$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >got
    printf './usr/%s\n' $common share/lintian/overrides/verdix | sort | diff - got
    rpmq -l | sort >got
    printf '/usr/%s\n' $common $licences share/doc/verdix share/licenses/verdix | sort | diff - got
    rpmq --qf '[%{FILEFLAGS:fflags} %{FILENAMES}\n]' | grep -E '^[a-z]*l[a-z]* ' | cut -d ' ' -f 2 | sort >got
    printf '/usr/%s\n' share/doc/verdix/copyright $licences | sort | diff - got
    top=${tgz%.tar.gz}
    tar -tzf "$PACKAGES/$tgz" | grep -v "^$top/" && false
    tar -tzf "$PACKAGES/$tgz" | sed "s|^$top/||; /\/$/d; /^$/d" | sort >got
    printf '%s\n' $common $licences | sort | diff - got
    # Each copyright file, in its package: the maintainer as its contact,
    # verdix-static and the LGPL's text where that package has them; and
    # the texts, as in the source.
    mkdir deb rpm && dpkg-deb --extract "$PACKAGES/$deb" deb && rpm2archive - <"$PACKAGES/$rpm" | tar -C rpm -xzf -
    tar -xzf "$PACKAGES/$tgz"
    glibc=$(dpkg-query -W -f '${source:Version}' "libc6-dev:$debarch")
    contact=$(dpkg-deb --field "$PACKAGES/$deb" Maintainer)
    while read -r copyright static text; do
        grep -qxF "Upstream-Contact: $contact" "$copyright" &&
            grep -qx "Files: $static" "$copyright" &&
            grep -qF "source package glibc $glibc," "$copyright" &&
            grep -qx " The text of the licence is in $text." "$copyright" ||
            { cat "$copyright" >&2 && false; }
    done <<TABLE
deb/usr/share/doc/verdix/copyright usr/bin/verdix-static /usr/share/common-licenses/LGPL-2.1
rpm/usr/share/doc/verdix/copyright /usr/bin/verdix-static /usr/share/licenses/verdix/LGPL-2.1-or-later.txt
$top/share/doc/verdix/copyright bin/verdix-static share/licenses/verdix/LGPL-2.1-or-later.txt
TABLE
    for text in MIT LGPL-2.1-or-later; do
        cmp "$SOURCE/LICENSES/$text.txt" "rpm/usr/share/licenses/verdix/$text.txt"
        cmp "$SOURCE/LICENSES/$text.txt" "$top/share/licenses/verdix/$text.txt"
    done
    for usr in deb/usr rpm/usr "$top"; do
        answers "$usr/bin"
        zcat "$usr/share/man/man1/verdix-static.1.gz" | cmp - "$BUILD/verdix.1"
    done
    tar -tvzf "$PACKAGES/$tgz" | awk '{ print $1, $2 }' | sort -u >got
    printf '%s\n' '-rw-r--r-- 0/0' '-rwxr-xr-x 0/0' 'drwxr-xr-x 0/0' 'lrwxr-xr-x 0/0' | diff - got
}

@test "package: lint: lintian and rpmlint find nothing" {
    lintian --pedantic --fail-on error,warning,pedantic "$PACKAGES/$deb" >tags 2>/dev/null &&
        [ ! -s tags ] || { cat tags >&2; false; }
    rpmlint -c "$SOURCE/packaging/pack/rpmlint.toml" "$PACKAGES/$rpm" >lint 2>&1 &&
        grep -q ' 0 errors, 0 warnings' lint || { cat lint >&2; false; }
}

@test "package: reproducibility: the same bytes from another install a second later, with another umask, and from the .deb's own contents; a given time is honoured" {
    sleep 1
    DESTDIR=$PWD/stage cmake --install "$BUILD" --prefix /usr --strip >/dev/null
    (umask 002 && "$SOURCE/packaging/pack/pack" stage "$MACHINE" "$PWD/again [1]")
    for artefact in "$deb" "$rpm" "$tgz"; do
        cmp "$PACKAGES/$artefact" "again [1]/$artefact"
    done
    # (dpkg-deb -R gives the top folder the time it unpacks at.)
    dpkg-deb -R "$PACKAGES/$deb" unpacked
    touch -d "@$EPOCH" unpacked
    SOURCE_DATE_EPOCH=$EPOCH dpkg-deb --root-owner-group -b unpacked rebuilt.deb >/dev/null
    cmp "$PACKAGES/$deb" rebuilt.deb
    SOURCE_DATE_EPOCH=86400 "$SOURCE/packaging/pack/pack" stage "$MACHINE" old
    [ "$(tar -tvzf "old/$tgz" | awk '{ print $4 }' | sort -u)" = 1970-01-02 ]
    [ "$(rpm -qp --qf '%{BUILDTIME}' - <"old/$rpm")" = 86400 ]
}

@test "machine: the README's row for this machine says what its executables are" {
    # Its names, whether verdix-static is a static PIE, and the marks of
    # control-flow protection that the compiler gave verdix.
    type=$(readelf -hW "$BUILD/verdix-static" | sed -n 's/^ *Type: *\([A-Z]*\).*/\1/p')
    case $type in DYN) static='static PIE' ;; EXEC) static='static, not PIE' ;; esac
    marks=$({ readelf -nW "$OBJECT" && readelf -AW "$OBJECT"; } | tr '\n' ' ')
    case $marks in
    *'x86 feature: IBT, SHSTK'*) marks='IBT, SHSTK' ;;
    *'AArch64 feature: BTI, PAC'* | *Tag_Feature_BTI:*1*Tag_Feature_PAC:*1*) marks='BTI, PAC' ;;
    *) marks='none: the architecture has none' ;;
    esac
    tr -d '`' <"$SOURCE/README.md" | awk -F ' *[|] *' -v machine="$MACHINE" 'NF == 8 && $5 == machine {
        print $3 "|" $4 "|" $6 "|" $7 }' >row
    printf '%s\n' "$debarch|$rpmarch|$static|$marks" | diff - row
}

@test "machine: the table names this machine as dpkg does; verdix-static links the archive's C library; verdix needs no glibc newer than the baseline" {
    [ "$(dpkg-architecture -t "$("$COMPILER" -dumpmachine)" -q DEB_HOST_ARCH 2>/dev/null)" = "$debarch" ]
    # The linker's own word on the libc.a it read: libc6-dev's for this
    # machine, as the archive has it.
    VERDIX=$BUILD/verdix-static relink traced -Wl,--trace >trace 2>&1 || { cat trace >&2; false; }
    libc=$(sed -n 's/(.*//; /\/libc\.a$/p' trace | xargs -r realpath | sort -u)
    [ "$(dpkg-query -S "$libc")" = "libc6-dev:$debarch: $libc" ] || { echo "links $libc" >&2 && false; }
    [ -n "${BASELINE-}" ] || return 0
    newest=$(objdump -T "$BUILD/verdix" | grep -o 'GLIBC_[0-9.]*' | sort -uV | tail -n 1)
    [ "$(printf '%s\n' "$newest" "GLIBC_$BASELINE" | sort -V | tail -n 1)" = "GLIBC_$BASELINE" ] ||
        { echo "needs $newest, newer than GLIBC_$BASELINE" >&2; false; }
}
