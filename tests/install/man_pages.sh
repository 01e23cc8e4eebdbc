#!/bin/sh
# Every installed manual page renders without a warning from groff.
#   man_pages.sh PREFIX
set -eu
prefix=$1
status=0
count=0
for page in "$prefix"/share/man/man1/*.1.gz; do
  count=$((count + 1))
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || status=1
  [ -z "$warnings" ] || { echo "$page:"; echo "$warnings"; status=1; }
done
[ "$count" -ge 2 ] || { echo "expected the pages of both programs, found $count"; status=1; }
exit $status
