#!/usr/bin/env bash
# The report's histograms and page, read by the independent tools: jsroot reads back every
# bin, sum and label of histograms we write (every shape, three codecs); skim-report on a
# generated input counts as many selected events as the skim copies; its page, opened from
# the file system in headless Chromium, draws every plot with no console error and no
# request. The screenshot is kept as BUILD_DIR/report-page.png for a look.
#   bash report.test.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?usage: report.test.sh BUILD_DIR}"

source "$here/common.sh"
require_jsroot
require_tools "$build" skim skim-report make-example treedump tests/write-histograms
[ -f "$here/node_modules/playwright-core/package.json" ] || skip "playwright-core not installed (bash scripts/setup.sh)"
CHROMIUM="$(command -v "${CHROMIUM:-chromium}")" || skip "chromium not installed (bash scripts/setup.sh)"
export CHROMIUM

"$build/tests/write-histograms" "$tmp" > "$tmp/expected"
(cd "$here" && node compare_histograms.mjs "$tmp/expected")

mkdir "$tmp/run"
cd "$tmp/run"
"$build/make-example" --events 3000 --compression 404 --quiet
"$build/skim" > /dev/null
"$build/skim-report" -o "$tmp/run/check" > /dev/null
selected=$("$build/treedump" output.root Events | sed -n 1p | cut -d' ' -f2)

# The cut-flow's first bin counts the input, its last the skim's output; the selected
# histograms hold the same events.
counts='
import { openFile } from "jsroot";
const file = await openFile(process.argv[1]);
const flow = await file.readObject("cutflow");
const selected = [];
for (const key of file.fKeys)
  if (key.fName.endsWith("_selected")) selected.push((await file.readObject(key.fName)).fEntries);
console.log(flow.fArray[1], flow.fArray[flow.fXaxis.fNbins], [...new Set(selected)].join(","));
'
read -r all last selected_entries < <(cd "$here" && node --input-type=module -e "$counts" "$tmp/run/check.root")
if [ "$all" != 3000 ] || [ "$last" != "$selected" ] || [ "$selected_entries" != "$selected" ]; then
  echo "cut-flow counts $all events and $last selected, selected histograms $selected_entries;" \
       "the skim selected $selected of 3000" >&2
  exit 1
fi

(cd "$here" && node check_report_page.mjs "$tmp/run/check.html" "$tmp/run/check.root" "$build/report-page.png")
echo "report: histograms read back exactly; $selected of 3000 selected, as the skim; page drawn"
