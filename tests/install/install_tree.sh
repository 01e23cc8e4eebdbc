#!/bin/sh
# Installs the build into a fresh prefix and checks that everything a desktop
# expects of an installed program is there.
#   install_tree.sh BUILD_DIR PREFIX
set -eu
build=$1 prefix=$2
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
id=org.tempovaro.Tempovaro
missing=0
for f in bin/tempovaro bin/tempovaro-count \
         share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/icons/hicolor/scalable/apps/$id.svg \
         share/man/man1/tempovaro.1.gz share/man/man1/tempovaro-count.1.gz; do
  [ -s "$prefix/$f" ] || { echo "missing: $f"; missing=1; }
done
for size in 16 24 32 48 64 128 256; do
  f=share/icons/hicolor/${size}x$size/apps/$id.png
  [ -s "$prefix/$f" ] || { echo "missing: $f"; missing=1; continue; }
  # The PNG header's width and height must be the folder's size.
  dims=$(od -An -tu1 -j16 -N8 "$prefix/$f" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dims" = "${size}x$size" ] || { echo "$f is $dims"; missing=1; }
done
[ -x "$prefix/bin/tempovaro" ] && [ -x "$prefix/bin/tempovaro-count" ] || { echo "programs not executable"; missing=1; }
# The installed tool runs from the prefix.
"$prefix/bin/tempovaro-count" --version | grep -q '^tempovaro-count ' || { echo "installed tempovaro-count does not run"; missing=1; }
exit $missing
