#!/usr/bin/env bash
# The README's batch recipe, run as printed, by sh and by bash, over a folder
# with a file of each outcome under odd names: its counts, each of the tool's
# lines behind its file's name, its exit status; and once the refused files
# are gone, every file counted as already plain and status 0.
# usage: SOURCE_DIR TOOL_DIR
set -euo pipefail
fail() { echo "$1"; exit 1; }
recipe=$(awk '/<!-- batch recipe/ { on = 1 } /^```$/ { on = 0 } on == 2 { print } on && /^```sh$/ { on = 2 }' "$1/README.md")
[ -n "$recipe" ] || fail "no sh block after the README's batch recipe marker"
export PATH="$2:$PATH"
sample=$1/tests/data/sample.mp4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Each file's name and how it is made: a copy of the sample (converted), one
# converted before (already plain), text, the sample's first N bytes (cut
# inside its first moof: refused; inside its first mdat: converted, samples
# left out).
rows=(
  "recordings/cam 1/new 'take' \$(1).mp4" copy
  "recordings/-done before & \"x\".mp4" converted
  "recordings/notes | a\\b*.mp4" text
  "recordings/cut in moof.mp4" 1300
  "recordings/cut in mdat.MP4" 1800
)
for shell in sh bash; do
  rm -rf recordings && mkdir -p "recordings/cam 1" && echo "not a recording" >recordings/readme.txt
  expected=()  # each file's lines as the recipe should show them: the tool's own, behind the name
  for ((i = 0; i < ${#rows[@]}; i += 2)); do
    name=${rows[i]}
    case ${rows[i + 1]} in
      copy) cp "$sample" "$name" ;;
      converted) cp "$sample" "$name" && morvak_fragflat -f "$name" ;;
      text) echo "not a recording" >"$name" ;;
      *) head -c "${rows[i + 1]}" "$sample" >"$name" ;;
    esac
    cp "$name" alone.mp4
    expected+=("$( (morvak_fragflat -f alone.mp4 2>&1 || true) | while IFS= read -r line; do echo "$name: $line"; done)")
  done

  status=0
  counts=$("$shell" -c "$recipe" 2>err) || status=$?
  [ "$counts/$status" = "converted 2, already plain 1, refused 2/1" ] || fail "$shell: $counts, status $status"
  for ((i = 0; i < ${#rows[@]}; i += 2)); do
    [ "$(grep -F -- "${rows[i]}: " err || true)" = "${expected[i / 2]}" ] || fail "$shell: lines of ${rows[i]}: $(cat err)"
  done
  [ "$(wc -l <err)" -eq "$(printf '%s\n' "${expected[@]}" | grep -c .)" ] || fail "$shell: lines without a file's name: $(cat err)"

  rm "${rows[4]}" "${rows[6]}"
  status=0
  counts=$("$shell" -c "$recipe" 2>err) || status=$?
  [ "$counts/$status" = "converted 0, already plain 3, refused 0/0" ] || fail "$shell, again: $counts, status $status"
done
