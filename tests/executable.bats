#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# The executable $VERDIX as built, with whatever compiler and flags: what
# it links and how it is hardened, by what the build itself did. $LINKAGE
# says which build it is, dynamic or static; $OBJECT is its compiled source,
# and $COMPILER what built it.

load relink

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
        # (The linker's own word on which C library it read.)
        relink traced -Wl,--trace >trace 2>&1 || { cat trace >&2; false; }
        libc=$(sed -n 's/(.*//; /\/libc\.a$/p' trace | xargs -r realpath | sort -u)
        [ -n "$libc" ] && [ "$(echo "$libc" | wc -l)" -eq 1 ] || { cat trace >&2; false; }
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
}

# machine: the ELF machine of $VERDIX, as readelf names it.
machine() {
    readelf -hW "$VERDIX" | sed -n 's/^ *Machine: *//p'
}

@test "it is hardened: PIE where it can be, full RELRO, no executable stack, fortified if optimised, control-flow protection where the machine has it" {
    if readelf -hW "$VERDIX" | grep -Eq 'Type: +DYN'; then
        readelf -dW "$VERDIX" | grep -Eq '\(FLAGS_1\) +Flags: NOW PIE'
    fi
    readelf -lW "$VERDIX" | grep -q GNU_RELRO
    readelf -lW "$VERDIX" | grep -Eq 'GNU_STACK +(0x0+ +){5}RW '
    # The compiler's own word on how it compiled: fortified, at a level,
    # whenever it optimised, whatever the build type's name or the flags.
    read -r level optimised < <("$BATS_TEST_DIRNAME/fortify-level" "${VERDIX%/*}/compile_commands.json" "$OBJECT")
    case $level:$optimised in [1-9]:yes | none:no) ;; *) echo "fortification level $level, optimised: $optimised" >&2 && false ;; esac
    # Control-flow protection: the object is always marked for it, in a
    # GNU property note or, with newer ARM toolchains, in its build
    # attributes. The linker marks the executable only when every input is
    # marked, so it is linked again, naming each input that is not; when it
    # names none, the executable must be marked too.
    case $(machine) in
    'Advanced Micro Devices X86-64' | 'Intel 80386')
        marks='x86 feature: IBT, SHSTK' report=-Wl,-z,cet-report=warning ;;
    AArch64)
        marks='AArch64 feature: BTI, PAC|Tag_Feature_BTI:[[:space:]]+1 .*Tag_Feature_PAC:[[:space:]]+1 '
        report=-Wl,-z,force-bti ;;
    # 32-bit ARM has no control-flow protection for the compiler to mark.
    ARM) marks= ;;
    *) echo "no control-flow marks are known for $(machine)" >&2 && false ;;
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

# marked FILE MARKS: FILE carries one of the MARKS (an extended regular
# expression) of control-flow protection, in its notes or its attributes.
marked() {
    { readelf -nW "$1" && readelf -AW "$1"; } | tr '\n' ' ' | grep -Eq "$2"
}
