#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root and starts the program from there.
set -euo pipefail
build_dir=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cd "$build_dir"
cpack -G DEB -B "$scratch/out" >/dev/null
deb=$(ls "$scratch"/out/tovandrix_*.deb)
echo "package: $(basename "$deb")"

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6serialport6 libqt6sql6 libqt6sql6-sqlite libqcustomplot2.1-qt6 \
    libxlsxwriter4 libtomlplusplus3 libudev1; do
    case "$depends" in
        *"$lib"*) ;;
        *) echo "FAIL: Depends lacks $lib: $depends"; exit 1 ;;
    esac
done
# A line's PostgreSQL server is optional: its driver is recommended, not required.
recommends=$(dpkg-deb -f "$deb" Recommends)
case "$recommends" in
    *libqt6sql6-psql*) ;;
    *) echo "FAIL: Recommends lacks libqt6sql6-psql: $recommends"; exit 1 ;;
esac

dpkg-deb -x "$deb" "$scratch/root"
for f in usr/bin/tovandrix usr/bin/tovandrix-sim usr/bin/tovandrix-cli \
    usr/share/applications/tovandrix.desktop \
    usr/share/icons/hicolor/64x64/apps/tovandrix.png; do
    [ -e "$scratch/root/$f" ] || { echo "FAIL: $f missing from the package"; exit 1; }
done
grep -q '^Exec=tovandrix$' "$scratch/root/usr/share/applications/tovandrix.desktop"

# The unpacked program starts offscreen and exits cleanly when its window is closed.
QT_QPA_PLATFORM=offscreen TOVANDRIX_CLOSE_AFTER_MS=300 timeout 60 \
    "$scratch/root/usr/bin/tovandrix" >"$scratch/out.log" 2>&1 || {
    echo "FAIL: the installed program exited with $?"
    cat "$scratch/out.log"
    exit 1
}
help=$("$scratch/root/usr/bin/tovandrix-sim" --help)
grep -q 'virtual laser module' <<<"$help"
# The command-line program runs without a display.
help=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$scratch/root/usr/bin/tovandrix-cli" --help)
grep -q 'measure \[--count N' <<<"$help"
# The installed program keeps a run in SQLite through the packaged driver, with no set-up.
XDG_DATA_HOME="$scratch/data" "$scratch/root/usr/bin/tovandrix-cli" report --format csv \
    | grep -q '^runs,units,first_pass_yield,final_yield$' || {
    echo "FAIL: the installed tovandrix-cli cannot use its results store"; exit 1; }
echo "1 passed, 0 failed"
