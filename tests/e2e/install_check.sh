#!/bin/sh
# Installs the build into a scratch prefix and checks that the program, its start script, the
# panel file, the desktop entry and the icon land where a desktop finds them.
#   install_check.sh BUILD_DIR
set -eu
build="$1"
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
status=0
for f in bin/veldra-logger bin/veldra-logger-start bin/veldra-sensor-sim \
         share/veldra-logger/VELDRA_Loggerprogramm.uir \
         share/applications/veldra-logger.desktop \
         share/icons/hicolor/scalable/apps/veldra-logger.svg; do
    if [ ! -e "$prefix/$f" ]; then
        echo "missing after install: $f" >&2
        status=1
    fi
done
for f in bin/veldra-logger bin/veldra-logger-start; do
    [ -x "$prefix/$f" ] || { echo "not executable: $f" >&2; status=1; }
done
entry="$prefix/share/applications/veldra-logger.desktop"
if [ -e "$entry" ]; then
    grep -qx 'Exec=veldra-logger-start' "$entry" || { echo "desktop entry: unexpected Exec" >&2; status=1; }
    grep -qx 'Icon=veldra-logger' "$entry" || { echo "desktop entry: unexpected Icon" >&2; status=1; }
fi
[ "$status" -eq 0 ] && echo "installed: program, start script, panel file, desktop entry, icon"
exit "$status"
