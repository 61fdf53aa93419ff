#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# The executable $VERDIX as shipped: what it links, how it is hardened, and
# that valgrind finds no use of unset memory on the path with no input.
# $LINKAGE says which build it is, dynamic or static; $FORTIFIED whether it
# was built with the optimiser, and so is to be compiled fortified; $OBJECT
# is its compiled source, and $COMPILER what built it.

setup() { cd "$BATS_TEST_TMPDIR" || return; }

@test "it links what it should and nothing more" {
    needed=$(readelf -dW "$VERDIX" | awk '/\(NEEDED\)/ { printf "%s ", $NF }')
    interp=$(readelf -lW "$VERDIX" | grep -c 'Requesting program interpreter' || true)
    type=$(readelf -hW "$VERDIX" | sed -n 's/^ *Type: *\([A-Z]*\).*/\1/p')
    # The dynamic one may need its own loader by name too, as on ARM, where
    # the stack protector's guard lives there. The static one is a static
    # PIE wherever the C library has the start file for one.
    loader=$(readelf -lW "$VERDIX" | sed -n 's|.*interpreter: .*/\(.*\)]$|\1|p')
    static=EXEC
    if [ "$LINKAGE" = static ]; then
        # The C library of libc6-dev for its own machine, as the archive
        # has it, which is what the linker says it read.
        relink traced -Wl,--trace >trace 2>&1 || { cat trace >&2; false; }
        libc=$(sed -n 's/(.*//; /\/libc\.a$/p' trace | xargs -r realpath | sort -u)
        arch=$(dpkg-architecture -t "$("$COMPILER" -dumpmachine)" -q DEB_HOST_ARCH 2>/dev/null)
        [ "$(dpkg-query -S "$libc")" = "libc6-dev:$arch: $libc" ] ||
            { echo "links $libc, of $(dpkg-query -S "$libc")" >&2; false; }
        [ ! -e "${libc%/*}/rcrt1.o" ] || static=DYN
    fi
    case $LINKAGE in
    dynamic) case $needed in "[libc.so.6] " | "[libc.so.6] [$loader] ") ;; *) false ;; esac &&
        [ "$interp" -eq 1 ] && [ "$type" = DYN ] ;;
    static) [ -z "$needed" ] && [ "$interp" -eq 0 ] && [ "$type" = "$static" ] ;;
    *) false ;;
    esac || {
        echo "$LINKAGE: NEEDED '$needed', interpreters $interp, type $type" >&2
        false
    }
    # Built for old systems, it needs no glibc symbol newer than the
    # baseline.
    if [ -n "${BASELINE-}" ]; then
        newest=$(objdump -T "$VERDIX" | grep -o 'GLIBC_[0-9.]*' | sort -uV | tail -n 1)
        [ "$(printf '%s\n' "$newest" "GLIBC_$BASELINE" | sort -V | tail -n 1)" = "GLIBC_$BASELINE" ] ||
            { echo "needs $newest, newer than GLIBC_$BASELINE" >&2; false; }
    fi
}

# machine: the ELF machine of $VERDIX, as readelf names it.
machine() {
    readelf -hW "$VERDIX" | sed -n 's/^ *Machine: *//p'
}

@test "it is hardened: PIE where it can be, full RELRO, no executable stack, fortified if optimised, control-flow protection" {
    if readelf -hW "$VERDIX" | grep -Eq 'Type: +DYN'; then
        readelf -dW "$VERDIX" | grep -Eq '\(FLAGS_1\) +Flags: NOW PIE'
    fi
    readelf -lW "$VERDIX" | grep -q GNU_RELRO
    readelf -lW "$VERDIX" | grep -Eq 'GNU_STACK +(0x0+ +){5}RW '
    # The compiler's own word on the fortification level it compiled with.
    level=$("$BATS_TEST_DIRNAME/fortify-level" "${VERDIX%/*}/compile_commands.json" "$OBJECT")
    case $level in [1-9]) got=yes ;; *) got=no ;; esac
    [ "$got" = "$FORTIFIED" ] || { echo "fortification level: $level" >&2; false; }
    # Control-flow protection: the object is always marked for it, in a
    # GNU property note or, with newer ARM toolchains, in its build
    # attributes. The linker marks the executable only when every input is
    # marked, so it is linked again, naming each input that is not; when it
    # names none, the executable must be marked too.
    case $(machine) in
    'Advanced Micro Devices X86-64')
        marks='x86 feature: IBT, SHSTK' report=-Wl,-z,cet-report=warning ;;
    AArch64)
        marks='AArch64 feature: BTI, PAC|Tag_Feature_BTI:[[:space:]]+1 .*Tag_Feature_PAC:[[:space:]]+1 '
        report=-Wl,-z,force-bti ;;
    *) marks= ;;
    esac
    if [ -n "$marks" ]; then
        marked "$OBJECT" "$marks" || { echo "$OBJECT is not marked: $marks" >&2; false; }
        # (A link that fails on warnings fails on these too.)
        relink relinked "$report" 2>unmarked || grep -q 'warning:' unmarked
        grep -q 'warning:' unmarked || marked "$VERDIX" "$marks" || {
            echo "every input is marked, but not the executable: $marks" >&2
            false
        }
    fi
}

# relink OUTPUT ARG...: link $VERDIX again into OUTPUT, in this test's
# folder, with the build's own command and ARGs added.
relink() {
    local link output
    output=$(printf %q "$BATS_TEST_TMPDIR/$1")
    cd "${VERDIX%/*}" || return
    if [ -e build.ninja ]; then
        link=$(ninja -t commands "${VERDIX##*/}" | tail -n 1)
    else
        link=$(cat "CMakeFiles/${VERDIX##*/}.dir/link.txt")
    fi
    [[ $link == *" -o ${VERDIX##*/} "* ]] || { echo "no link command: $link" >&2 && return 1; }
    eval "${link/ -o ${VERDIX##*/} / -o $output ${*:2} }"
    local status=$?
    cd "$BATS_TEST_TMPDIR" && return $status
}

# marked FILE MARKS: FILE carries one of the MARKS (an extended regular
# expression) of control-flow protection, in its notes or its attributes.
marked() {
    { readelf -nW "$1" && readelf -AW "$1"; } | tr '\n' ' ' | grep -Eq "$2"
}

@test "no grade character: memcheck finds nothing, and the outcome is other" {
    memcheck=("$VALGRIND" -q --error-exitcode=99
        --suppressions="$BATS_TEST_DIRNAME/static-glibc.supp" "$VERDIX")
    for input in /dev/null -; do
        if [ "$input" = - ]; then
            "${memcheck[@]}" <&- >out 2>err
        else
            "${memcheck[@]}" <"$input" >out 2>err
        fi
        [ ! -s err ] || { cat err >&2; false; }
        printf 'Enter your grade: \nThat'\''s not even a proper grade!\n' >want
        cmp want out
    done
}

