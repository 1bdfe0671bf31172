#!/bin/bash
# The desktop entry and metainfo pass their validators, and every image the build renders
# exists at the pixel size data/CMakeLists.txt asks for, since the client lays out its
# windows around those sizes.
# Usage: validate_data.sh SOURCE-DIR BUILD-DIR
set -u

src=${1:?usage: $0 SOURCE-DIR BUILD-DIR}
build=${2:?usage: $0 SOURCE-DIR BUILD-DIR}
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

desktop-file-validate "$src/data/org.vurozudeduz.Vurozudeduz.desktop" ||
    fail "desktop entry does not validate"
appstreamcli validate --no-net "$src/data/org.vurozudeduz.Vurozudeduz.metainfo.xml" ||
    fail "metainfo does not validate"

# a PNG's signature, then its width and height as big-endian numbers at bytes 16 and 20
check_png() {
    local size
    if [ "$(head -c 8 "$1" 2>/dev/null | od -An -tx1 | tr -d ' \n')" != 89504e470d0a1a0a ]; then
        fail "$1 is missing or not a PNG"
    elif size=$(od -An -tu4 --endian=big -j16 -N8 "$1" | xargs) && [ "$size" != "$2 $3" ]; then
        fail "$1 is ${size/ /x}, want ${2}x${3}"
    fi
}

images=0
while read -r name width height; do
    check_png "$build/images/$name.png" "$width" "$height"
    images=$((images + 1))
done < <(sed -n '/^set(VUROZUDEDUZ_IMAGES$/,/^)$/{/^ /p}' "$src/data/CMakeLists.txt")
[ "$images" -gt 0 ] || fail "no image list found in $src/data/CMakeLists.txt"
check_png "$build/icons/vurozudeduz.png" 48 48

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "data: $images images, desktop entry and metainfo OK"
