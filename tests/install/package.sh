#!/bin/sh
# Builds the Debian package and checks that its dependencies name the
# package of every library the programs load, as dpkg-shlibdeps computed them,
# and of every Qt plugin they load at run time (which dpkg-shlibdeps cannot
# see, and which the Qt libraries only recommend: an install with
# --no-install-recommends would leave them out). Finally apt resolves an
# install of the package with --no-install-recommends, only simulated, so no
# dependency names a package that does not exist.
#   package.sh BUILD_DIR WORK_DIR
set -eu
build=$1 work=$2
rm -rf "$work"
mkdir -p "$work"
cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/tempovaro_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
dpkg-deb -x "$deb" "$work/root"
status=0
for program in "$work"/root/usr/bin/*; do
  for soname in $(objdump -p "$program" | awk '$1 == "NEEDED" {print $2}'); do
    owners=$(dpkg -S "*/$soname" 2>/dev/null | cut -d: -f1 | tr ',' '\n' | sed 's/ //g' | sort -u)
    [ -n "$owners" ] || { echo "$soname: no package owns it"; status=1; continue; }
    found=0
    for p in $owners; do
      printf '%s\n' "$depends" | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -qxF "$p" && found=1
    done
    [ $found -eq 1 ] || { echo "$(basename "$program") needs $soname ($owners), not in Depends"; status=1; }
  done
done
inDepends() {
  printf '%s\n' "$depends" | tr ',|' '\n\n' | sed 's/^ *//; s/ .*//' | grep -qxF "$1"
}
# The journal's SQLite driver and the window's platform plugins: Debian 12
# ships xcb in libqt6gui6 and the others in qt6-qpa-plugins, other releases
# move them, so both the files' owners here and the named packages count.
for plugin in sqldrivers/libqsqlite.so platforms/libqxcb.so; do
  owners=$(dpkg -S "*/qt6/plugins/$plugin" 2>/dev/null | cut -d: -f1 | tr ',' '\n' | sed 's/ //g' | sort -u)
  [ -n "$owners" ] || { echo "$plugin: no package owns it"; status=1; continue; }
  found=0
  for p in $owners; do inDepends "$p" && found=1; done
  [ $found -eq 1 ] || { echo "the plugin $plugin ($owners) is not in Depends"; status=1; }
done
for p in libqt6sql6-sqlite qt6-qpa-plugins; do
  inDepends "$p" || { echo "$p is not in Depends"; status=1; }
done
if command -v apt-get >/dev/null; then
  apt-get install --simulate --no-install-recommends "$deb" >"$work/apt.log" 2>&1 &&
    grep -q '^Inst tempovaro ' "$work/apt.log" || { cat "$work/apt.log"; status=1; }
fi
exit $status
