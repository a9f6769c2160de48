#!/usr/bin/env bash
# Runs the program in an empty folder: it must end with status 255 (main's -1) and say on
# exactly one stderr line which file is missing.
set -u
program="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# Qt warns on stderr when it has no runtime folder; give it one so stderr holds only ours.
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"
"$program" >"$work/out" 2>"$work/err" </dev/null
status=$?
lines=$(wc -l <"$work/err")
if [ "$status" -ne 255 ]; then
    echo "exit status $status, expected 255"; cat "$work/err"; exit 1
fi
if [ "$lines" -ne 1 ] || ! grep -q 'VELDRA_Loggerprogramm.uir' "$work/err"; then
    echo "expected one stderr line naming the panel file, got:"; cat "$work/err"; exit 1
fi
if [ -e "$work/settings.txt" ]; then
    echo "a failed start wrote settings.txt"; exit 1
fi
echo "ok: status 255, stderr: $(cat "$work/err")"
