# SPDX-License-Identifier: MIT
# The suites' way to link an executable again, which bats loads.

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
