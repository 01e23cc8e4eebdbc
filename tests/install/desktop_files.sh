#!/bin/sh
# Validates the installed menu entry and software-centre page with the
# freedesktop and AppStream tools; any complaint, even a hint, fails.
#   desktop_files.sh PREFIX
set -eu
prefix=$1
status=0
for f in "$prefix"/share/applications/*.desktop; do
  out=$(desktop-file-validate "$f" 2>&1) || status=1
  [ -z "$out" ] || { echo "$out"; status=1; }
done
appstreamcli validate --no-net --explain "$prefix"/share/metainfo/*.metainfo.xml || status=1
# The page, the menu entry and the icons together, as a software centre sees them.
appstreamcli validate-tree --no-net "$prefix" || status=1
exit $status
