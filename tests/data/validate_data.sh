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

# big-endian 32-bit number at byte offset $2 of file $1
be32() {
    local b
    read -r -a b < <(od -An -tu1 -j"$2" -N4 "$1")
    echo $(( (b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3] ))
}

check_png() {
    local file=$1 width=$2 height=$3
    if [ ! -f "$file" ]; then
        fail "$file is missing"
    elif [ "$(head -c 8 "$file" | od -An -tx1 | tr -d ' \n')" != 89504e470d0a1a0a ]; then
        fail "$file is not a PNG"
    else
        local w h
        w=$(be32 "$file" 16)
        h=$(be32 "$file" 20)
        [ "$w" = "$width" ] && [ "$h" = "$height" ] ||
            fail "$file is ${w}x${h}, want ${width}x${height}"
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
