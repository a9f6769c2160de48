#!/bin/sh
# systemd-analyze verify must report nothing for an instance of the template unit, with
# ExecStart pointing at the program just built and the program's manual page on MANPATH.
#   verify_unit.sh UNIT PROGRAM MANPAGE
set -eu
unit="$1" program="$2" manpage="$3"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/man/man1"
cp "$manpage" "$work/man/man1/"
sed "s#^ExecStart=[^ ]*/veldra-logd #ExecStart=$program #" "$unit" > "$work/veldra-logd@ctest.service"
export MANPATH="$work/man"
# The Documentation= check runs man; a machine without it cannot check the page.
man_check=--man=yes
if ! command -v man >/dev/null; then
    echo "no man command here: the manual page is not checked"
    man_check=--man=no
fi
if ! out=$(systemd-analyze verify "$man_check" "$work/veldra-logd@ctest.service" 2>&1) || [ -n "$out" ]; then
    echo "systemd-analyze verify reported:" >&2
    echo "$out" >&2
    exit 1
fi
echo "systemd-analyze verify: nothing to report for veldra-logd@.service"
