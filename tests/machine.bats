#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# What this machine's build is, as the README and the release say: $BUILD
# is a build for $MACHINE of packaging/facts/architectures, by $COMPILER,
# whose verdix compiled into $OBJECT, against the baseline C library of
# glibc $BASELINE when it is set.

load relink

setup() {
    cd "$BATS_TEST_TMPDIR" || return
    read -r _ deb rpm _ < <(awk -v machine="$MACHINE" '$1 == machine' "$SOURCE/packaging/facts/architectures")
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
    printf '%s\n' "$deb|$rpm|$static|$marks" | diff - row
}

@test "machine: the table names this machine as dpkg does; verdix-static links the archive's C library; verdix needs no glibc newer than the baseline" {
    [ "$(dpkg-architecture -t "$("$COMPILER" -dumpmachine)" -q DEB_HOST_ARCH 2>/dev/null)" = "$deb" ]
    # The linker's own word on the libc.a it read: libc6-dev's for this
    # machine, as the archive has it.
    VERDIX=$BUILD/verdix-static relink traced -Wl,--trace >trace 2>&1 || { cat trace >&2; false; }
    libc=$(sed -n 's/(.*//; /\/libc\.a$/p' trace | xargs -r realpath | sort -u)
    [ "$(dpkg-query -S "$libc")" = "libc6-dev:$deb: $libc" ] || { echo "links $libc" >&2 && false; }
    [ -n "${BASELINE-}" ] || return 0
    newest=$(objdump -T "$BUILD/verdix" | grep -o 'GLIBC_[0-9.]*' | sort -uV | tail -n 1)
    [ "$(printf '%s\n' "$newest" "GLIBC_$BASELINE" | sort -V | tail -n 1)" = "GLIBC_$BASELINE" ] ||
        { echo "needs $newest, newer than GLIBC_$BASELINE" >&2; false; }
}
