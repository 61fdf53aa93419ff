#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# The executable $VERDIX as shipped: what it links, how it is hardened, and
# that valgrind finds no use of unset memory on the path with no input.
# $LINKAGE says which build it is, dynamic or static; $FORTIFIED whether it
# was built with the optimiser, and so is to be compiled fortified; $OBJECT
# is its compiled source, and $COMPILER what linked it.

@test "it links what it should and nothing more" {
    needed=$(readelf -dW "$VERDIX" | awk '/\(NEEDED\)/ { printf "%s ", $NF }')
    interp=$(readelf -lW "$VERDIX" | grep -c 'Requesting program interpreter' || true)
    # On 64-bit ARM the stack protector's guard lives in glibc's dynamic
    # loader, so the loader is needed by name as well.
    libc='[libc.so.6] '
    readelf -hW "$VERDIX" | grep -Eq 'Machine: +AArch64' &&
        libc='[libc.so.6] [ld-linux-aarch64.so.1] '
    case $LINKAGE in
    dynamic) [ "$needed" = "$libc" ] && [ "$interp" -eq 1 ] ;;
    static) [ -z "$needed" ] && [ "$interp" -eq 0 ] ;;
    *) false ;;
    esac || { echo "$LINKAGE: NEEDED '$needed', interpreters $interp" >&2; false; }
}

@test "it is hardened: PIE, full RELRO, no executable stack, fortified if optimised, control-flow protection" {
    readelf -hW "$VERDIX" | grep -Eq 'Type: +DYN'
    readelf -dW "$VERDIX" | grep -Eq '\(FLAGS_1\) +Flags: NOW PIE'
    readelf -lW "$VERDIX" | grep -q GNU_RELRO
    readelf -lW "$VERDIX" | grep -Eq 'GNU_STACK +(0x0+ +){5}RW '
    # The compiler's last word on _FORTIFY_SOURCE is the one that holds.
    told=$(grep -F '"command"' "${VERDIX%/*}/compile_commands.json" |
        grep -F "/${VERDIX##*/}.dir/" | grep -o -- '-[DU]_FORTIFY_SOURCE[=0-9]*' |
        tail -n 1)
    case $told in -D_FORTIFY_SOURCE=[1-9]) fortified=yes ;; *) fortified=no ;; esac
    [ "$fortified" = "$FORTIFIED" ] || { echo "told: '$told'" >&2; false; }
    # Control-flow protection: the object is always marked for it. The
    # linker marks the executable only when every input is marked, so it is
    # linked again, naming each input that is not; when it names none, the
    # executable must be marked too.
    case $(readelf -hW "$VERDIX" | sed -n 's/^ *Machine: *//p') in
    'Advanced Micro Devices X86-64')
        mark='x86 feature: IBT, SHSTK' report=-Wl,-z,cet-report=warning ;;
    AArch64) mark='AArch64 feature: BTI, PAC' report=-Wl,-z,force-bti ;;
    *) mark= ;;
    esac
    if [ -n "$mark" ]; then
        readelf -nW "$OBJECT" | grep -qF "$mark" || {
            echo "$OBJECT is not marked: $mark" >&2
            false
        }
        case $LINKAGE in dynamic) pie=-pie ;; *) pie=-static-pie ;; esac
        cd "$BATS_TEST_TMPDIR"
        "$COMPILER" "$pie" "$OBJECT" -o relinked "$report" 2>report
        grep -q 'warning:' report || readelf -nW "$VERDIX" | grep -qF "$mark" || {
            echo "every input is marked, but not the executable: $mark" >&2
            false
        }
    fi
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

setup() { cd "$BATS_TEST_TMPDIR"; }
