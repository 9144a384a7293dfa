#!/usr/bin/env bash
# Every message the tool can print is explained in the man page's
# DIAGNOSTICS, so the two cannot drift apart. usage: SOURCE_DIR
set -euo pipefail
src=$1
# The page as plain text, one paragraph to a line, no hyphenation.
diagnostics=$(groff -man -Tascii -rLL=2000n -rHY=0 -P-cbou "$src/docs/morvak_fragflat.1" |
  sed -n '/^DIAGNOSTICS/,/^EXAMPLES/p' | tr -s ' \n' ' ')
# Message texts: string literals ending in a newline, except the usage and
# version lines, which the page's OPTIONS explain.
missing=0
while IFS= read -r message; do
  # A value printed into the message (%llu, %u, %s) splits it into pieces.
  while IFS= read -r piece; do
    [ -z "$piece" ] && continue
    if ! grep -qF -- "$piece" <<<"$diagnostics"; then
      echo "not in DIAGNOSTICS: \"$message\" (missing: \"$piece\")"
      missing=1
    fi
  done < <(sed -E 's/%(llu|u|s)/\n/g' <<<"$message")
done < <(grep -ohE '"([^"\\]|\\.)*\\n"' "$src"/bin/*.cpp | sed -E 's/^"//; s/\\n"$//; s/\\"/"/g' |
         grep -vE '^(morvak_fragflat |  ?-)' | sort -u)
exit $missing
