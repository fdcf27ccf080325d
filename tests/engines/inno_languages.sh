#!/bin/sh
# Inno Setup: the example in Japanese on a Western system (Wine locale
# en_US.UTF-8, ANSI code page 1252, where no Japanese character has a
# byte). A /SILENT run shows its status window; its caption and line are
# read back from the window and must be the script's Japanese texts exactly.
# Then the product is removed.
#
#   sh inno_languages.sh BUILD ISCC.exe
set -u
part=languages
. "$(dirname "$0")/inno_common.sh"

echo "== compiling"
# A service slow to start keeps the status window up.
example setup "$bin/kivtestsvc.exe" "/DKivServiceArgs=slowstart 3000"

echo "== Japanese, code page 1252"
title='Kivelstrand セットアップ'
copying='Kivelstrand をコピーしています。しばらくお待ちください...'
starting='Kivelstrand レンダリング サービスを開始しています...'
LC_ALL=en_US.UTF-8 timeout 90 wine "$work/setup.exe" /SILENT /SUPPRESSMSGBOXES /LANG=ja &
setup=$!
# Found by the caption's first word, so that a caption that lost its
# Japanese on the way shows as it is.
texts=$(KIV_WINDOW_PREFIX=Kivelstrand LC_ALL=en_US.UTF-8 wine "$bin/wintext.exe" 60 | tr -d '\r')
wait $setup || fail "setup in Japanese: exit code $?"
echo "$texts"
[ "$texts" = "$title
$copying" ] || [ "$texts" = "$title
$starting" ] || fail "the status window does not hold the script's Japanese texts (above)"
wine reg query "$entry" /v "Inno Setup: Language" | tr -d '\r' | grep -q 'REG_SZ *ja$' || fail "Setup did not run in Japanese"
running || fail "the service does not run"
# shellcheck disable=SC2086
bounded 90 "$unix_app/unins000.exe" $silent || fail "removal: exit code $?"
removed
echo "inno languages: the status window showed the Japanese texts exactly"
