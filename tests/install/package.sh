#!/bin/sh
# Builds the Debian package and checks that its dependencies name the
# package of every library the programs load, as dpkg-shlibdeps computed them.
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
exit $status
