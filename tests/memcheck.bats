#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# The executable $VERDIX under $VALGRIND's memcheck.

@test "no grade character: memcheck finds nothing, and the outcome is other" {
    cd "$BATS_TEST_TMPDIR" || return
    memcheck=("$VALGRIND" -q --error-exitcode=99
        --suppressions="$BATS_TEST_DIRNAME/static-glibc.supp" "$VERDIX")
    printf 'Enter your grade: \nThat'\''s not even a proper grade!\n' >want
    for input in /dev/null -; do
        if [ "$input" = - ]; then
            "${memcheck[@]}" <&- >out 2>err
        else
            "${memcheck[@]}" <"$input" >out 2>err
        fi
        [ ! -s err ] || { cat err >&2; false; }
        cmp want out
    done
}
