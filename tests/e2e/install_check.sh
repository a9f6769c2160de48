#!/bin/sh
# Installs the build into a scratch prefix and checks that the program, its start script, the
# panel file, the desktop entry and the icon land where a desktop finds them, and the service
# with its unit where systemd finds it.
#   install_check.sh BUILD_DIR
set -eu
build="$1"
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
status=0
for f in bin/veldra-logger bin/veldra-logger-start bin/veldra-sensor-sim bin/veldra-logd \
         lib/systemd/system/veldra-logd@.service share/man/man1/veldra-logd.1.gz \
         share/doc/veldra-logger/copyright \
         share/veldra-logger/VELDRA_Loggerprogramm.uir \
         share/applications/veldra-logger.desktop \
         share/icons/hicolor/scalable/apps/veldra-logger.svg; do
    if [ ! -e "$prefix/$f" ]; then
        echo "missing after install: $f" >&2
        status=1
    fi
done
for f in bin/veldra-logger bin/veldra-logger-start bin/veldra-logd; do
    [ -x "$prefix/$f" ] || { echo "not executable: $f" >&2; status=1; }
done
entry="$prefix/share/applications/veldra-logger.desktop"
if [ -e "$entry" ]; then
    grep -qx 'Exec=veldra-logger-start' "$entry" || { echo "desktop entry: unexpected Exec" >&2; status=1; }
    grep -qx 'Icon=veldra-logger' "$entry" || { echo "desktop entry: unexpected Icon" >&2; status=1; }
fi
unit="$prefix/lib/systemd/system/veldra-logd@.service"
if [ -e "$unit" ]; then
    # The unit runs the program where this install put it.
    grep -q "^ExecStart=$prefix/bin/veldra-logd " "$unit" || { echo "unit: unexpected ExecStart" >&2; status=1; }
fi
[ "$status" -eq 0 ] && echo "installed: programs, start script, panel file, desktop entry, icon, service unit"
exit "$status"
