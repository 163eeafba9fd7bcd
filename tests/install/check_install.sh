#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and checks that the installed program
# finds its panels from an unrelated working directory, and that both programs answer
# --help and --version.
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
work="$(mktemp -d)"
trap 'rm -rf "$prefix" "$work"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/vek-modbus-rtu bin/vek-transmitter-sim share/vek-modbus-rtu/Panel_def.uir \
         share/vek-modbus-rtu/LogoVerde.bmp share/applications/vek-modbus-rtu.desktop \
         share/icons/hicolor/128x128/apps/vek-modbus-rtu.png; do
    [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
# The trend chart's module sits in the program's library folder, loads with what it needs,
# and the program itself does not pull Qt Charts in at start.
module="$(find "$prefix" -path '*/lib*/vek-modbus-rtu/vek-trend-window.so')"
[ -n "$module" ] || { echo "not installed: lib*/vek-modbus-rtu/vek-trend-window.so"; exit 1; }
if ldd "$module" | grep -q 'not found'; then echo "the trend module misses libraries:"; ldd "$module"; exit 1; fi
if ldd "$prefix/bin/vek-modbus-rtu" | grep -q 'Qt6Charts'; then echo "the program links Qt Charts"; exit 1; fi
"$prefix/bin/vek-modbus-rtu" --version | grep -q '^vek-modbus-rtu [0-9]'
"$prefix/bin/vek-modbus-rtu" --help | grep -q 'VEK_COM'
"$prefix/bin/vek-transmitter-sim" --help | grep -q -- '--link'
"$prefix/bin/vek-transmitter-sim" --help | grep -q -- '--version'
# Both name the same version in the same form.
version="$("$prefix/bin/vek-modbus-rtu" --version | sed -n 's/^vek-modbus-rtu //p')"
[ "$("$prefix/bin/vek-transmitter-sim" --version)" = "vek-transmitter-sim $version" ] ||
    { echo "vek-transmitter-sim --version does not say version $version"; exit 1; }
# Started elsewhere, the program must still be running after two seconds: a missing
# resource would have ended it at once with status 255.
cd "$work"
set +e
QT_QPA_PLATFORM=offscreen timeout 2 "$prefix/bin/vek-modbus-rtu" >/dev/null 2>&1
status=$?
set -e
if [ "$status" -ne 124 ]; then
    echo "the installed program ended with status $status instead of running"
    exit 1
fi
echo "installed program runs from $work"
