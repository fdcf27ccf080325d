#!/bin/sh
# Inno Setup: an upgrade over a running service. The example built as 1.0 and
# as 2.0, whose service program carries a marker of its own; 1.0 installed and
# running; a description set on its service by hand, as an administrator
# would; 2.0 installed silently over it. 2.0's program must run, as the same
# service, with the description kept. Then kivunins.ini goes missing and the
# program is removed from the list of programs: the uninstaller's own check
# must still remove the service.
#
#   sh inno_upgrade.sh BUILD ISCC.exe
set -u
part=upgrade
. "$(dirname "$0")/inno_common.sh"

echo "== compiling 1.0 and 2.0"
mkdir -p "$work/v2"
cp "$bin/kivtestsvc.exe" "$work/v2/kivtestsvc.exe"
printf 'Kivelstrand 2.0' >> "$work/v2/kivtestsvc.exe"
example setup-1.0 "$bin/kivtestsvc.exe" /DKivVersion=1.0
example setup-2.0 "$work/v2/kivtestsvc.exe" /DKivVersion=2.0

echo "== 1.0, and a description set by hand"
# shellcheck disable=SC2086
bounded 90 "$work/setup-1.0.exe" $silent || fail "1.0: setup failed ($?)"
running || fail "1.0: the service does not run"
old_pid=$(service_pid)
[ -n "$old_pid" ] || fail "1.0: no process runs $app\\bin\\kivrender.exe"
wine reg add "$service_key" /v Description /d "Renders for the night shift" /f >/dev/null ||
    fail "cannot set the description"

# 1.1's script removed the data folder by an elevated command: the upgrade
# must not keep it.
printf '[CustomCommand]\r\nCommand0="C:\\windows\\system32\\cmd.exe" /c rd /s /q C:\\KivelstrandData\r\n' >> "$unix_app/kivunins.ini"

echo "== 2.0 over it, silently"
start=$(date +%s)
# shellcheck disable=SC2086
bounded 90 "$work/setup-2.0.exe" $silent || fail "2.0: setup failed ($?)"
echo "2.0 installed in $(($(date +%s) - start)) s"
wine reg query "$entry" /v DisplayVersion | tr -d '\r' | grep -q 'REG_SZ *2\.0$' || fail "the entry is not 2.0's"
running || fail "2.0: the service does not run"
# A service deleted and created again would have lost its key with the value.
wine reg query "$service_key" /v Description | tr -d '\r' | grep -q "Renders for the night shift" ||
    fail "the service lost the description set on it"
cmp -s "$unix_app/bin/kivrender.exe" "$work/v2/kivtestsvc.exe" || fail "1.0's program is still installed"
grep -q CustomCommand "$unix_app/kivunins.ini" && fail "the upgrade kept the earlier script's command"
[ -d "/proc/$old_pid" ] && fail "1.0's program still runs (pid $old_pid)"
new_pid=$(service_pid)
inode=$(stat -c %i "$unix_app/bin/kivrender.exe")
# The running process maps its program: it must be the file 2.0 installed.
awk -v inode="$inode" '$5 == inode { found = 1 } END { exit !found }' "/proc/$new_pid/maps" 2>/dev/null ||
    fail "the service's process ($new_pid) does not run 2.0's program"
echo "2.0's program runs as the same service, description kept"

echo "== removal without kivunins.ini"
rm "$unix_app/kivunins.ini"
wine "$bin/sysremove.exe" Kivelstrand_is1 | tr -d '\r' || fail "the uninstaller did not end"
removed
echo "inno upgrade: upgraded over a running service, removed without the script"
