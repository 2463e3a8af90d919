#!/usr/bin/env bash
# InstallerRoads.sh BIN_DIR: the Windows installer under Wine (WINEPREFIX and
# WINELOADER set by the caller) on the roads that need no page engine, with
# the exit code, log lines, registry values and temporary folder the Linux
# build gives on the same roads.
set -euo pipefail
bin=$(realpath "$1")
wine=$WINELOADER
# Without a display: the window cannot be made and the run ends there.
unset DISPLAY
key='HKCU\Software\Zelvo\stubframework\Brindlemark\24'
temp="$WINEPREFIX/drive_c/users/$(whoami)/Temp"
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The whole 32-bit exit code, through a batch file.
run() {
    local batch="$bin/road.bat"
    printf '@echo off\r\n"%s" %s\r\necho exit=%%errorlevel%%\r\n' \
        "$("$wine" winepath -w "$1" 2>/dev/null | tr -d '\r')" "${*:2}" >"$batch"
    timeout 300 "$wine" cmd /c "$("$wine" winepath -w "$batch" 2>/dev/null | tr -d '\r')" 2>/dev/null |
        tr -d '\r' | sed -n 's/^exit=//p' || true  # the shell's 8 bits are no failure here
}

value() {
    "$wine" reg query "$key" /v "$1" /reg:32 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$1 *REG_SZ *//p"
}

fresh() {
    "$wine" reg delete "$key" /f /reg:32 >/dev/null 2>&1 || true
    rm -rf "$temp"/*
}

log() {
    cat "$temp"/Brindlemark_log/installer_log_*.txt 2>/dev/null | tr -d '\r'
}

expect_log() {
    log | grep -qF -- "$1" || fail "$2: the log lacks \"$1\""
}

expect_only_log_left() {
    local left
    left=$(ls "$temp")
    [ "$left" = "Brindlemark_log" ] || fail "$1: the temporary folder holds: $left"
}

echo "== the bare program: no pages, the failed road"
fresh
code=$(run "$bin/BrindlemarkInstall-bare.exe")
[ "$code" = 0 ] || fail "bare: exit code $code"
expect_log "ERROR] Load Resource from pe failed." bare
expect_log "DEBUG] Property lang: en" bare
[ "$(value status)" = 2 ] || fail "bare: status is '$(value status)'"
[ "$(value install_language)" = English ] || fail "bare: install_language is '$(value install_language)'"
expect_only_log_left bare

echo "== the packed program: the launcher hands over to its working copy"
fresh
code=$(run "$bin/BrindlemarkInstall.exe")
[ "$code" = 0 ] || fail "packed: exit code $code"
expect_log "DEBUG] Load Resource from pe finished." packed
expect_log " run=1 shortcut=" packed
expect_only_log_left packed

echo "== the replacement step: the new version takes the launcher's place"
# No process has this id: the parent has ended.
scratch="$bin/roads"
rm -rf "$scratch" && mkdir -p "$scratch"
cp "$bin/BrindlemarkInstall-bare.exe" "$scratch/launcher.exe"
launcher=$("$wine" winepath -w "$scratch/launcher.exe" 2>/dev/null | tr -d '\r')
code=$(run "$bin/BrindlemarkInstall.exe" newVersionExitCode=197800 parentProcessID=4294967290 \
    "shortcut=\"$launcher\"")
# All 32 bits of the code arrive on Windows (Linux passes 168).
[ "$code" = 197800 ] || fail "replacement: exit code $code"
cmp -s "$scratch/launcher.exe" "$bin/BrindlemarkInstall.exe" || fail "replacement: the launcher was not replaced"
gone=$("$wine" winepath -w "$scratch/gone.exe" 2>/dev/null | tr -d '\r')
code=$(run "$bin/BrindlemarkInstall.exe" newVersionExitCode=9 parentProcessID=4294967290 "shortcut=\"$gone\"")
[ "$code" = 9 ] || fail "replacement without a launcher: exit code $code"
[ ! -e "$scratch/gone.exe" ] || fail "replacement without a launcher: a file was made"

echo "== a self-update: the working copy stages a new version, which runs and replaces the launcher"
fresh
cp "$bin/stub-test-installer.exe" "$scratch/Install Brindlemark.exe"
launcher=$("$wine" winepath -w "$scratch/Install Brindlemark.exe" 2>/dev/null | tr -d '\r')
code=$(STUB_TEST_NEW_VERSION=$("$wine" winepath -w "$bin/BrindlemarkInstall-bare.exe" 2>/dev/null | tr -d '\r') \
    run "$scratch/Install Brindlemark.exe")
[ "$code" = 0 ] || fail "self-update: exit code $code"
expect_log " run=1 update=0 shortcut=\"$launcher\"" self-update
# The replacement runs after the launcher has ended.
for _ in $(seq 100); do
    cmp -s "$scratch/Install Brindlemark.exe" "$bin/BrindlemarkInstall-bare.exe" && break
    sleep 0.1
done
cmp -s "$scratch/Install Brindlemark.exe" "$bin/BrindlemarkInstall-bare.exe" ||
    fail "self-update: the launcher was not replaced"
# Windows keeps a running program's file: the replacement's folder outlives
# the launcher, and the next run removes it once the replacement has ended.
wineserver -w 2>/dev/null || true
run "$bin/BrindlemarkInstall-bare.exe" >/dev/null
expect_only_log_left self-update

[ "$failures" = 0 ] && echo "installer roads: all passed"
exit "$failures"
