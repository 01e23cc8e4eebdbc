#!/bin/sh
# tempovaro-count --help and its manual page name the same long options:
# whatever option is added to one must be documented in the other.
#   count_options.sh TEMPOVARO_COUNT MAN_SOURCE
set -eu
tool=$1 source=$2
options() { grep -o -- '--[a-z][a-z0-9-]*' | sort -u; }
help=$("$tool" --help | options)
page=$(options < "$source")
[ -n "$help" ] || { echo "no options in --help"; exit 1; }
if [ "$help" != "$page" ]; then
  echo "only in --help:"; printf '%s\n' "$help" | grep -vxF -e "$page" || true
  echo "only in the manual page:"; printf '%s\n' "$page" | grep -vxF -e "$help" || true
  exit 1
fi
