# SPDX-License-Identifier: MIT
# Releases made of $RELEASE, for the suites that bats loads this into.

# recorded DIR [VERSION]: DIR, a release at VERSION (else $VERSION), with a
# .buildinfo that records its files and machines as they now are, and
# SHA256SUMS anew.
recorded() {
    (
        cd "$1" || exit
        info=verdix_${2:-$VERSION}.buildinfo
        for name in *; do
            case $name in SHA256SUMS | "$info") ;; *) echo " $(sha256sum <"$name" | cut -c 1-64) $(stat -c %s "$name") $name" ;; esac
        done >../recorded
        archs=$(for deb in *.deb; do deb=${deb##*_} && echo "${deb%.deb}"; done | sort | paste -sd ' ')
        awk -v archs="$archs" '/^[^ ]/ { section = $1 } section == "Checksums-Sha256:" && /^ / { next }
            /^Architecture:/ { $0 = "Architecture: " archs " source" } { print }
            /^Checksums-Sha256:/ { while ((getline line <"../recorded") > 0) print line }' "$info" >../info
        mv ../info "$info" && rm -f SHA256SUMS && sha256sum -- * >../sums && mv ../sums SHA256SUMS
    )
}
