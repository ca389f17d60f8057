#!/usr/bin/env bash
# Checks that the pages of docs/ show their examples as the files are: a
# page shows an example as the line
#     <!-- example: examples/NAME -->
# (the path relative to the page) followed by a fenced code block holding
# the whole file.  Every file of docs/examples must be shown on some page.
# Usage: docs_examples.sh DOCS_DIR
set -uo pipefail
docs=$1 status=0 shown=()

while IFS= read -r page; do
    while IFS=: read -r number path; do
        file=$(realpath -m "$(dirname "$page")/$path")
        shown+=("$file")
        # The block: from the fence after the marker to the closing fence.
        block=$(awk -v start="$number" 'NR == start + 1 { if ($0 !~ /^```/) exit 1; inside = 1; next }
                                        inside && /^```$/ { exit }
                                        inside { print }' "$page")
        [ -f "$file" ] || { echo "$page:$number: no file $path"; status=1; continue; }
        [ "$block" = "$(cat "$file")" ] ||
            { echo "$page:$number: the block differs from $path:"; diff <(echo "$block") "$file" | head -20; status=1; }
    done < <(grep -n '^<!-- example: .* -->$' "$page" | sed 's/<!-- example: \(.*\) -->$/\1/')
done < <(find "$docs" -name '*.md' | sort)

for file in "$docs"/examples/*.c "$docs"/examples/*.cpp; do
    [ -e "$file" ] && ! printf '%s\n' "${shown[@]}" | grep -qxF "$(realpath "$file")" &&
        echo "$file is shown on no page" && status=1
done
[ $status -eq 0 ] && echo "every example is shown as it is"
exit $status
