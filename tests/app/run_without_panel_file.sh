#!/usr/bin/env bash
# Runs the program in a folder whose panel file is missing (default), or is a named pipe or a
# directory under its name: it must end at once with status 255 (main's -1), say on exactly one
# stderr line which file it is (and, for the pipe, what it is), and write no settings. A plain
# open of a named pipe would wait for a writer for ever; the time limit turns that into a failure.
set -u
program="$1"
kind="${2:-missing}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
case "$kind" in
    missing) ;;
    fifo) mkfifo VELDRA_Loggerprogramm.uir ;;
    directory) mkdir VELDRA_Loggerprogramm.uir ;;
    *) echo "unknown case $kind"; exit 2 ;;
esac
# Qt warns on stderr when it has no runtime folder; give it one so stderr holds only ours.
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"
timeout -s KILL 60 "$program" >"$work/out" 2>"$work/err" </dev/null
status=$?
lines=$(wc -l <"$work/err")
if [ "$status" -ne 255 ]; then
    echo "exit status $status, expected 255 (137: killed after 60 s)"; cat "$work/err"; exit 1
fi
if [ "$lines" -ne 1 ] || ! grep -q 'VELDRA_Loggerprogramm.uir' "$work/err"; then
    echo "expected one stderr line naming the panel file, got:"; cat "$work/err"; exit 1
fi
if [ "$kind" = fifo ] && ! grep -q 'named pipe' "$work/err"; then
    echo "expected the line to say it is a named pipe, got:"; cat "$work/err"; exit 1
fi
if [ -e "$work/settings.txt" ]; then
    echo "a failed start wrote settings.txt"; exit 1
fi
echo "ok ($kind): status 255, stderr: $(cat "$work/err")"
