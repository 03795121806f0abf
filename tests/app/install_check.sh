#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that a desktop finds everything there:
# the program and its tools, images_internal/ beside them, the menu entry with the image types
# it opens, the icon in every size, and the tool's manual page.
#   install_check.sh BUILD_DIR
set -euo pipefail
BUILD=$1
PREFIX=$(mktemp -d)
trap 'rm -rf "$PREFIX"' EXIT
cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null
status=0
for file in bin/pixorta bin/pixorta-batch bin/pxconvert \
            bin/images_internal/topbanner.png bin/images_internal/help.html \
            share/applications/pixorta.desktop share/man/man1/pixorta-batch.1 \
            share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/pixorta.png; do
  [ -f "$PREFIX/$file" ] || { echo "missing: $file"; status=1; }
done
entry="$PREFIX/share/applications/pixorta.desktop"
for line in 'Exec=pixorta %F' 'Icon=pixorta' 'Type=Application'; do
  grep -qxF "$line" "$entry" || { echo "the menu entry lacks: $line"; status=1; }
done
# Every kind of file the list takes is offered to the file manager's "Open with".
for type in image/jpeg image/png image/gif image/bmp image/tiff image/vnd.microsoft.icon \
            image/x-win-bitmap image/x-tga image/vnd.zbrush.pcx image/jp2 video/x-mng; do
  grep -q "^MimeType=.*$type;" "$entry" || { echo "the menu entry lacks the type $type"; status=1; }
done
"$PREFIX/bin/pixorta-batch" --help >/dev/null || { echo "the installed tool does not run"; status=1; }
exit $status
