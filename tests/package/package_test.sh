#!/usr/bin/env bash
# Makes the Debian package from the build folder, checks it as a distribution would (desktop
# entry, AppStream data, lintian, contents, dependencies), unpacks it into a temporary root and
# starts the installed program the way the menu entry starts it, headless, until it has created
# its files in the data folder and ended by itself.
# Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

echo "== package"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack did not make the package"; }
debs=("$work"/out/tessaly_*.deb)
[ -f "${debs[0]}" ] || fail "no tessaly_*.deb in $work/out"
deb=${debs[0]}
echo "$deb"

echo "== contents"
dpkg-deb -c "$deb" | awk '{print $6}' >"$work/contents"
for wanted in ./usr/bin/tessaly ./usr/share/applications/jp.tessaly.Tessaly.desktop \
              ./usr/share/icons/hicolor/scalable/apps/jp.tessaly.Tessaly.svg \
              ./usr/share/metainfo/jp.tessaly.Tessaly.metainfo.xml \
              ./usr/share/man/man1/tessaly.1.gz ./usr/share/doc/tessaly/copyright \
              ./usr/share/doc/tessaly/guide-ja.md ./usr/share/doc/tessaly/oauth_guide_ja.md \
              ./usr/share/doc/tessaly/settings_window.png; do
    grep -qxF "$wanted" "$work/contents" || fail "$wanted is not in the package"
done
# Only the program is a program: no test, benchmark or fuzz target comes along.
extra=$(grep -E '^\./usr/(bin|lib|libexec)/.+[^/]$' "$work/contents" | grep -vxF ./usr/bin/tessaly || true)
[ -z "$extra" ] || fail "the package holds more programs than tessaly: $extra"

echo "== dependencies"
depends=$(dpkg-deb -f "$deb" Depends)
echo "$depends"
for wanted in libqt6widgets6 libqt6network6 libqt6svg6 fonts-ipafont-gothic qt6-translations-l10n \
              xdg-utils; do
    grep -q "$wanted" <<<"$depends" || fail "Depends lacks $wanted"
done

echo "== unpack"
root="$work/root"
dpkg -x "$deb" "$root"

grep -qx 'StartupWMClass=tessaly' "$root/usr/share/applications/jp.tessaly.Tessaly.desktop" ||
    fail "the menu entry does not name the windows' class"

echo "== desktop-file-validate"
desktop-file-validate "$root/usr/share/applications/jp.tessaly.Tessaly.desktop"
echo "== appstreamcli validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/jp.tessaly.Tessaly.metainfo.xml"
echo "== lintian"
# Tags of kind E (error) fail the check; warnings are listed for the reader.
lintian --allow-root --fail-on error "$deb"

echo "== start as the menu does"
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/jp.tessaly.Tessaly.desktop")
read -r -a command <<<"$exec_line"
[ "${command[0]}" = tessaly ] || fail "the menu entry starts '${command[0]}', not tessaly"
command[0]="$root/usr/bin/tessaly"
mkdir -p "$work/home" "$work/started-in"
status=0
(cd "$work/started-in" &&
    env HOME="$work/home" XDG_DATA_HOME="$work/home/data" QT_QPA_PLATFORM=offscreen \
        TESSALY_QUIT_AFTER_START=1 timeout 120 "${command[@]}") || status=$?
[ "$status" -eq 0 ] || fail "the installed program ended with status $status"
data="$work/home/data/tessaly"
for file in TSY2.ini Address.csv Log.txt SendData.txt; do
    [ -f "$data/$file" ] || fail "$data/$file was not created"
done
grep -q "^Log=$data/Log.txt" "$data/TSY2.ini" || fail "TSY2.ini does not point into the data folder"
[ -z "$(ls -A "$work/started-in")" ] || fail "files were written into the folder it was started in"

echo "== a data folder that cannot be made"
# Its box is answered as every other: the program ends with an error rather than wait for a click.
touch "$work/not-a-folder"
status=0
(cd "$work/started-in" &&
    env HOME="$work/home" XDG_DATA_HOME="$work/not-a-folder/data" QT_QPA_PLATFORM=offscreen \
        TESSALY_QUIT_AFTER_START=1 timeout 60 "${command[@]}") || status=$?
[ "$status" -eq 1 ] || fail "with a data folder it cannot make, the program ended with status $status, not 1"
echo "OK: the installed program ran and kept its files in $data"
