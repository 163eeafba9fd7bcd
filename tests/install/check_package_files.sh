#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and checks the files a Debian package needs
# besides the programs: the machine-readable copyright file (GPL-3.0-or-later), the
# changelog and manual pages compressed as Debian wants them, the desktop entry and the
# AppStream metadata, each valid and of the program's version.
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
version="$("$prefix/bin/vek-modbus-rtu" --version | sed -n 's/^vek-modbus-rtu //p')"
[ -n "$version" ] || { echo "vek-modbus-rtu --version names no version"; exit 1; }

doc="$prefix/share/doc/vek-modbus-rtu"
metainfo="$prefix/share/metainfo/invalid.example.vek_modbus_rtu.metainfo.xml"
man="$prefix/share/man/man1"
for f in "$doc/copyright" "$doc/changelog.gz" "$metainfo" "$man/vek-modbus-rtu.1.gz" \
         "$man/vek-transmitter-sim.1.gz"; do
    [ -f "$f" ] || { echo "not installed: ${f#"$prefix"/}"; exit 1; }
done
# copyright: machine-readable (DEP-5), GPL-3.0-or-later, pointing at the licence text.
head -n 1 "$doc/copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    { echo "copyright: not in the machine-readable format"; exit 1; }
grep -qx 'License: GPL-3+' "$doc/copyright" || { echo "copyright: no GPL-3+ licence paragraph"; exit 1; }
grep -q '/usr/share/common-licenses/GPL-3' "$doc/copyright" || { echo "copyright: licence text not named"; exit 1; }
# changelog and manual pages: gzip at -9 without a stored name or time (bytes 3 to 8 of
# the header); the changelog's latest entry is this version, each page names its program.
for f in "$doc/changelog.gz" "$man/vek-modbus-rtu.1.gz" "$man/vek-transmitter-sim.1.gz"; do
    header="$(od -An -tx1 -j3 -N6 "$f" | tr -d ' \n')"
    [ "$header" = "000000000002" ] || { echo "${f##*/}: header flags, time and level $header, not gzip -9n"; exit 1; }
done
for p in vek-modbus-rtu vek-transmitter-sim; do
    gzip -dc "$man/$p.1.gz" | grep -q "^$p \\\\- " || { echo "$p.1.gz: no NAME line for $p"; exit 1; }
done
top="$(gzip -dc "$doc/changelog.gz" | head -n 1)"
case "$top" in
    "vek-modbus-rtu ($version) "*) ;;
    *) echo "changelog.gz: latest entry \"$top\" is not version $version"; exit 1 ;;
esac
# Desktop entry and AppStream metadata pass their own validators; the metainfo's latest
# release is this version.
desktop-file-validate "$prefix/share/applications/vek-modbus-rtu.desktop"
appstreamcli validate --no-net "$metainfo" >/dev/null ||
    { appstreamcli validate --no-net "$metainfo"; echo "metainfo: not valid"; exit 1; }
grep -q "<release version=\"$version\"" "$metainfo" || { echo "metainfo: no release $version"; exit 1; }
# The poll period as the program keeps it: its 5 s timer, then the 1 s wait for the reply.
# Every text that describes the program says 6 s, and none says 5.
period() {
    local what=$1 text=$2
    grep -Eq 'every 6( s|-second| seconds)' <<<"$text" || { echo "$what: does not say it polls every 6 s"; exit 1; }
    if grep -Eq 'every 5( s|-second| seconds)' <<<"$text"; then echo "$what: says it polls every 5 s"; exit 1; fi
}
period "changelog.gz" "$(gzip -dc "$doc/changelog.gz")"
period "vek-modbus-rtu.1.gz" "$(gzip -dc "$man/vek-modbus-rtu.1.gz")"
period "metainfo" "$(cat "$metainfo")"
period "the package description" "$(grep -A12 '^set(CPACK_PACKAGE_DESCRIPTION ' "$build/CPackConfig.cmake")"
period "vek-modbus-rtu --help" "$("$prefix/bin/vek-modbus-rtu" --help)"
if grep -Eq 'every 5( s|-second| seconds)' "$prefix/share/applications/vek-modbus-rtu.desktop"; then
    echo "desktop entry: says it polls every 5 s"
    exit 1
fi
echo "copyright, changelog.gz, manual pages, desktop entry and metainfo of version $version are valid"
