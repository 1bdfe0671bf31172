#!/usr/bin/env bash
# Every text the desktop client translates has a Chinese translation: a key added to the code
# without one would show English in the middle of a Chinese window.
# usage: check_catalogue.sh SOURCE_DIR
set -euo pipefail
src=$1
pot=$(mktemp --suffix=.pot)
po=$(mktemp --suffix=.po)
trap 'rm -f "$pot" "$po"' EXIT
xgettext --keyword=_ --keyword=N_ --from-code=UTF-8 -o "$pot" "$src"/client/*.cpp
msgmerge --quiet --no-fuzzy-matching -o "$po" "$src/po/zh_CN.po" "$pot"
untranslated=$(msgattrib --untranslated --no-obsolete "$po" | grep -c '^msgid ' || true)
# the header entry is the one msgid "" every file has
if [ "$untranslated" -gt 0 ]; then
    echo "FAIL: texts without a Chinese translation (run scripts/update-po.sh and translate):"
    msgattrib --untranslated --no-obsolete "$po" | grep '^msgid ' | grep -v '^msgid ""$'
    exit 1
fi
obsolete=$(msgattrib --only-obsolete "$po" | grep -c '^#~ msgid' || true)
if [ "$obsolete" -gt 0 ]; then
    echo "FAIL: translations of texts the client no longer has (run scripts/update-po.sh)"
    exit 1
fi
echo "catalogue complete"
