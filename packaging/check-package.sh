#!/bin/bash
# Builds the Debian package from a build folder into a temporary folder and checks it:
# file list, control fields, desktop entry, icons, lintian, and the program's --version.
# check-package.sh BUILD_DIR VERSION "ICON SIZES"
set -uo pipefail
BUILD="$1" VERSION="$2" SIZES="$3"
OUT="$(mktemp -d)"
trap 'rm -rf "$OUT"' EXIT
fail=0
bad() { echo "FAIL: $*"; fail=1; }

for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate lintian identify; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/install-packages.sh installs it)"; exit 1; }
done

timeout 240 cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$OUT" >"$OUT/cpack.log" 2>&1 ||
  { cat "$OUT/cpack.log"; echo "FAIL: cpack"; exit 1; }
ARCH="$(dpkg --print-architecture)"
DEB="$OUT/oekaki_${VERSION}_${ARCH}.deb"
[[ -f "$DEB" ]] || { ls "$OUT"; echo "FAIL: no $(basename "$DEB")"; exit 1; }

# The files, and nothing outside /usr.
dpkg-deb -c "$DEB" | awk '{print $NF}' | sed 's|^\./|/|' | grep -v '/$' | sort >"$OUT/files"
expected=(/usr/bin/oekaki /usr/share/applications/oekaki.desktop /usr/share/man/man1/oekaki.1.gz
          /usr/share/doc/oekaki/copyright /usr/share/doc/oekaki/changelog.gz)
for n in $SIZES; do expected+=("/usr/share/icons/hicolor/${n}x${n}/apps/oekaki.png"); done
printf '%s\n' "${expected[@]}" | sort >"$OUT/expected"
diff -u "$OUT/expected" "$OUT/files" || bad "the file list differs (- expected, + in the package)"
dpkg-deb -c "$DEB" | awk '{print $2}' | grep -qv '^root/root$' && bad "files not owned by root"

# Control fields.
field() { dpkg-deb -f "$DEB" "$1"; }
[[ "$(field Package)" == oekaki ]] || bad "Package: $(field Package)"
[[ "$(field Version)" == "$VERSION" ]] || bad "Version: $(field Version)"
[[ "$(field Architecture)" == "$ARCH" ]] || bad "Architecture: $(field Architecture)"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || bad "Maintainer: $(field Maintainer)"
DEPENDS="$(field Depends)"
echo "Depends: $DEPENDS"
names="$(tr ',|' '\n\n' <<<"$DEPENDS" | sed 's/^ *//; s/[ (].*//')"
for dep in libfbclient2 libqt6widgets6 libqt6gui6 libqt6core6 libc6 libstdc++6 libwebpmux3 libwebp7 \
           fonts-ipafont-gothic qt6-translations-l10n; do
  grep -qxF "$dep" <<<"$names" || bad "Depends lacks $dep"
done
grep -q '^firebird' <<<"$names" && bad "Depends names the database server"
# qt6-qpa-plugins holds only the VNC and TUIO plugins; the X11 one is in libqt6gui6.
grep -qxF qt6-qpa-plugins <<<"$names" && bad "Depends names qt6-qpa-plugins"
[[ "$(field Suggests)" == firebird3.0-server-core ]] || bad "Suggests: $(field Suggests) (the embedded engine)"

# The installed tree.
ROOT="$OUT/root"
dpkg-deb -x "$DEB" "$ROOT"
desktop-file-validate "$ROOT/usr/share/applications/oekaki.desktop" || bad "desktop-file-validate"
grep -qx 'Name=お絵描きソフト' "$ROOT/usr/share/applications/oekaki.desktop" || bad "desktop entry name"
grep -qx 'Categories=Graphics;' "$ROOT/usr/share/applications/oekaki.desktop" || bad "desktop entry categories"
for n in $SIZES; do
  got="$(identify -format '%wx%h' "$ROOT/usr/share/icons/hicolor/${n}x${n}/apps/oekaki.png" 2>&1)"
  [[ "$got" == "${n}x${n}" ]] || bad "icon ${n}x${n} is $got"
done
zcat "$ROOT/usr/share/man/man1/oekaki.1.gz" | grep -q '^\.TH OEKAKI 1' || bad "manual page"
dpkg -L libqt6gui6 2>/dev/null | grep -q '/platforms/libqxcb\.so$' ||
  bad "the X11 platform plugin is not in libqt6gui6 on this system"
out="$(timeout 20 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$ROOT/usr/bin/oekaki" --version 2>&1)"
[[ $? -eq 0 && "$out" == "oekaki $VERSION" ]] || bad "--version printed: $out"
out="$(timeout 20 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$ROOT/usr/bin/oekaki" --help 2>&1)"
[[ $? -eq 0 && "$out" == *--version* ]] || bad "--help printed: $out"

# lintian: errors fail; warnings and notes are shown.
timeout 200 lintian --allow-root --info "$DEB" >"$OUT/lintian" 2>&1
lint=$?
cat "$OUT/lintian"
grep -q '^E: ' "$OUT/lintian" && bad "lintian reports errors"
(( lint <= 2 )) || bad "lintian did not run (exit $lint)"

if ((fail)); then exit 1; fi
echo "package checked: $(basename "$DEB")"
