#!/usr/bin/env bash
# Every message the tool can print is explained in the man page's
# DIAGNOSTICS, so the two cannot drift apart. usage: SOURCE_DIR
set -euo pipefail
# The page as plain text, one paragraph to a line, no hyphenation.
diagnostics=$(groff -man -Tascii -rLL=2000n -rHY=0 -P-cbou "$1/docs/morvak_fragflat.1" |
  sed -n '/^DIAGNOSTICS/,/^EXAMPLES/p' | tr -s ' \n' ' ')
# Message texts: string literals ending in a newline, except the usage and
# version lines and a dry run's line, which the page's OPTIONS explain. A value printed into a
# message (%llu, %u, %s) splits it into pieces, each of which must be there.
missing=0
while IFS= read -r piece; do
  [ -z "$piece" ] || grep -qF -- "$piece" <<<"$diagnostics" || { echo "not in DIAGNOSTICS: \"$piece\""; missing=1; }
done < <(grep -ohE '"([^"\\]|\\.)*\\n"' "$1"/bin/*.cpp | sed -E 's/^"//; s/\\n"$//; s/\\"/"/g' |
         grep -vE '^(morvak_fragflat |  ?-|would )' | sort -u | sed -E 's/%(llu|u|s)/\n/g')
exit $missing
