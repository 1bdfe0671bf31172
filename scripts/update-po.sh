#!/usr/bin/env bash
# Collects the desktop client's translatable texts and merges them into the Chinese
# catalogue; new keys arrive untranslated for a translator to fill.
# usage: scripts/update-po.sh
set -euo pipefail
cd "$(dirname "$0")/.."
pot=$(mktemp --suffix=.pot)
trap 'rm -f "$pot"' EXIT
xgettext --keyword=_ --keyword=N_ --from-code=UTF-8 --package-name=Vurozudeduz \
    --sort-by-file -o "$pot" client/*.cpp
msgmerge --quiet --update --backup=none --no-fuzzy-matching po/zh_CN.po "$pot"
msgfmt --check --statistics -o /dev/null po/zh_CN.po
