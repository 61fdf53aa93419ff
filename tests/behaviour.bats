#!/usr/bin/env bats
# SPDX-License-Identifier: MIT
# What one verdix executable, named by $VERDIX, does for a user: the exact
# bytes on standard output, nothing on standard error, exit status 0.

# The complete standard output of each outcome, prompt line included.
A=$'Enter your grade: \nAmazing! A smart person! You have met expectations.\n'
B=$'Enter your grade: \nYou have met expectations.\n'
C=$'Enter your grade: \nYou need to study harder!At least you passed!\n'
D=$'Enter your grade: \nAt least you passed!\n'
F=$'Enter your grade: \nWell, they\'re always hiring in the army.\n'
OTHER=$'Enter your grade: \nThat\'s not even a proper grade!\n'

setup() {
    out=$BATS_TEST_TMPDIR/out
    err=$BATS_TEST_TMPDIR/err
}

# answer INPUT [ARG...]: run verdix with the bytes of the printf format
# INPUT on standard input; it must exit 0 and write nothing to stderr.
answer() {
    # shellcheck disable=SC2059 # the input is a format, for its escapes
    printf "$1" | "$VERDIX" "${@:2}" >"$out" 2>"$err"
    quiet_success $?
}

quiet_success() {
    [ "$1" -eq 0 ] || { echo "exit status $1" >&2; return 1; }
    [ ! -s "$err" ] || { echo "standard error:" >&2; cat "$err" >&2; return 1; }
}

# wrote TEXT: standard output holds exactly TEXT.
wrote() {
    printf '%s' "$1" >"$BATS_TEST_TMPDIR/want"
    cmp -s "$BATS_TEST_TMPDIR/want" "$out" || {
        diff <(od -c "$BATS_TEST_TMPDIR/want") <(od -c "$out") >&2
        return 1
    }
}

@test "every one of the 256 first bytes gets exactly its outcome" {
    for i in {0..255}; do
        case $i in
        65) want=$A bytes=71 ;;
        66) want=$B bytes=46 ;;
        67) want=$C bytes=65 ;;
        68) want=$D bytes=40 ;;
        70) want=$F bytes=60 ;;
        *) want=$OTHER bytes=51 ;;
        esac
        answer "$(printf '\\%03o' "$i")" && wrote "$want" &&
            [ "$(wc -c <"$out")" -eq "$bytes" ] || {
            echo "first byte $i" >&2
            return 1
        }
    done
}

@test "only the first byte counts" {
    while read -r input text; do
        answer "$input"
        wrote "${!text}"
    done <<'TABLE'
E\n              OTHER
Apple\n          A
A+\n             A
B\nC\n           B
\040A\n         OTHER
\nA\n            OTHER
a\n              OTHER
\303\211\n       OTHER
TABLE
}

@test "it ends after one byte, without waiting for a line end or more input" {
    mkfifo "$BATS_TEST_TMPDIR/keys"
    exec {keys}<>"$BATS_TEST_TMPDIR/keys"
    printf 'D' >&$keys
    timeout 10 "$VERDIX" <"$BATS_TEST_TMPDIR/keys" >"$out" 2>"$err"
    quiet_success $?
    exec {keys}>&-
    wrote "$D"
}

@test "the rest of the input is left for the next reader" {
    in=$BATS_TEST_TMPDIR/in rest=$BATS_TEST_TMPDIR/rest
    printf 'A\nB\n' >"$in"
    for via in file pipe; do
        if [ $via = file ]; then
            { "$VERDIX" >"$out" 2>"$err"; s=$?; cat >"$rest"; } <"$in"
        else
            { "$VERDIX" >"$out" 2>"$err"; s=$?; cat >"$rest"; } < <(cat "$in")
        fi
        quiet_success "$s"
        wrote "$A"
        printf '\nB\n' | cmp - "$rest" || { echo "from a $via" >&2; false; }
    done
}

@test "arguments and the environment change nothing" {
    answer 'C\n' -h --help --version -- F
    wrote "$C"
    printf 'F' | env -i LC_ALL=C.UTF-8 POSIXLY_CORRECT=1 "$VERDIX" x \
        >"$out" 2>"$err"
    quiet_success $?
    wrote "$F"
}

@test "no grade character at all: the other outcome" {
    # Standard input empty, closed, or a folder that cannot be read.
    for input in /dev/null - /; do
        if [ "$input" = - ]; then
            "$VERDIX" <&- >"$out" 2>"$err"
        else
            "$VERDIX" <"$input" >"$out" 2>"$err"
        fi
        quiet_success $?
        wrote "$OTHER"
    done
}

@test "output that cannot be written: still exit 0, nothing on stderr" {
    printf 'A' | "$VERDIX" >/dev/full 2>"$err"
    quiet_success $?
    printf 'A' | "$VERDIX" >&- 2>"$err"
    quiet_success $?
    # A pipe whose reader has already gone: no SIGPIPE death.
    mkfifo "$BATS_TEST_TMPDIR/pipe"
    exec {both}<>"$BATS_TEST_TMPDIR/pipe"
    exec {writer}>"$BATS_TEST_TMPDIR/pipe"
    exec {both}<&-
    printf 'A' | "$VERDIX" 1>&"$writer" 2>"$err"
    quiet_success $?
    exec {writer}>&-
    # A file size limit, none at all or one inside the output: no SIGXFSZ
    # death, and the file holds what fitted.
    printf 'A' | prlimit --fsize=0 "$VERDIX" >"$out" 2>"$err"
    quiet_success $?
    wrote ''
    printf 'A' | prlimit --fsize=30 "$VERDIX" >"$out" 2>"$err"
    quiet_success $?
    wrote $'Enter your grade: \nAmazing! A '
}

@test "on a terminal: the prompt shows first, the answer line is taken whole" {
    # The next reader of the terminal, after verdix, tells what it left.
    mkfifo "$BATS_TEST_TMPDIR/keys"
    # shellcheck disable=SC2016 # expanded by the shell that script starts
    timeout 20 script -qefc 'stty -echo && "$VERDIX" && read -r next &&
        echo "next: $next"' /dev/null <"$BATS_TEST_TMPDIR/keys" \
        >"$out" 2>"$err" 3>&- &
    exec {keys}>"$BATS_TEST_TMPDIR/keys"
    for _ in {1..200}; do
        grep -q $'grade: \r' "$out" && break
        sleep 0.05
    done
    printf 'Enter your grade: \r\n' >"$BATS_TEST_TMPDIR/want"
    cmp "$BATS_TEST_TMPDIR/want" "$out"
    # A pasted answer line of 2851 bytes, longer than stdio's 1024-byte
    # terminal reads, then a line typed ahead, which is not the answer's.
    printf 'B' >&$keys
    # shellcheck disable=SC2016 # to be expanded only if it leaks to a shell
    printf ';echo LEAK_$((6*7))%.0s' {1..150} >&$keys
    printf '\ntyped ahead\n' >&$keys
    exec {keys}>&-
    wait $!
    quiet_success $?
    tr -d '\r' <"$out" >"$out.lf" && mv "$out.lf" "$out"
    wrote $'Enter your grade: \nYou have met expectations.\nnext: typed ahead\n'
}
