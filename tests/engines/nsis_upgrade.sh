#!/bin/sh
# The NSIS example upgraded over its running service: version 1 installed
# and running, a setting changed on the service by hand, version 2 (whose
# service program differs by a marker) installed silently over it. Version
# 2's program must run, as the same service, with the setting kept; then the
# product is removed as a deployment would (the QuietUninstallString).
#
#   sh nsis_upgrade.sh BUILD [ISCC.exe]
kind=upgrade
. "$(dirname "$0")/nsis_common.sh"

# The running service's process: the wine process of this prefix whose
# command line names the service program.
service_pid() {
    for pid in $(pgrep -f 'bin\\kivrender.exe'); do
        tr '\0' '\n' < "/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "$pid"
    done
}

echo "== versions 1 and 2"
cp "$bin/kivtestsvc.exe" "$work/kivrender-2.exe"
printf 'kivrender 2.0.0' >> "$work/kivrender-2.exe"
build_example setup-1 -DKIV_VERSION=1.0.0
SERVICE_EXE="$work/kivrender-2.exe" build_example setup-2 -DKIV_VERSION=2.0.0

run_line setup-1 desktop "\"$(winepath -w "$work/setup-1.exe")\" /S" || fail "version 1 did not install"
dir=$(reg_value "$uninstall_key" InstallLocation)
[ -n "$dir" ] || fail "no InstallLocation in the uninstall entry"
unix_dir=$(winepath -u "$dir")
kivhost ServiceIsRunning "$service" | grep -q "ServiceIsRunning -> 1" || fail "version 1's service does not run"
pid1=$(service_pid)
[ -n "$pid1" ] || fail "no process of version 1's service"

# What an administrator set: a description and a start on demand.
wine reg add "$service_key" /v Description /d "Set by the administrator" /f >/dev/null
wine reg add "$service_key" /v Start /t REG_DWORD /d 3 /f >/dev/null
image1=$(reg_value "$service_key" ImagePath)
printf 'service %s (%s), process %s\n' "$service" "$image1" "$pid1"

echo "== version 2 over it"
run_line setup-2 desktop "\"$(winepath -w "$work/setup-2.exe")\" /S" || fail "version 2 did not install over version 1"
cmp -s "$work/kivrender-2.exe" "$unix_dir/bin/kivrender.exe" || fail "version 1's program is still on disk"
kivhost ServiceIsRunning "$service" | grep -q "ServiceIsRunning -> 1" || fail "the service does not run after the upgrade"
pid2=$(service_pid)
echo "process $pid2"
[ -n "$pid2" ] && [ "$pid2" != "$pid1" ] || fail "the service's process was not started anew ($pid1, then '$pid2')"
[ "$(reg_value "$service_key" ImagePath)" = "$image1" ] || fail "the service's command line changed"
[ "$(reg_value "$service_key" Description)" = "Set by the administrator" ] || fail "the description set by hand is gone"
[ "$(reg_value "$service_key" Start)" = 0x3 ] || fail "the start type set by hand is gone"
[ "$(reg_value "$uninstall_key" DisplayVersion)" = 2.0.0 ] || fail "the uninstall entry does not name version 2"
[ -z "$(temp_folders)" ] || fail "left in the temporary folder: $(temp_folders)"
echo "nsis upgrade: version 2 runs as the same service, its settings kept"

echo "== removal by the QuietUninstallString"
# The first of the uninstaller's two processes ends at once: wait for the
# second, which removes the entry last.
run_line remove desktop "$(reg_value "$uninstall_key" QuietUninstallString)" || fail "the uninstaller failed"
for _ in $(seq 1 60); do
    wine reg query "$uninstall_key" >/dev/null 2>&1 || break
    sleep 0.5
done
check_removed remove "$dir"
clean_product
