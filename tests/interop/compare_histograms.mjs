// Reads histograms with jsroot and compares every field with what the writer says they
// hold (write-histograms output: "FILE path" lines, each followed by one JSON object per
// histogram). Values must be equal exactly.
//
//   node compare_histograms.mjs EXPECTED
//
// Prints one line per difference and exits 1 when there is any.
import { readFileSync } from 'node:fs';
import { openFile } from 'jsroot';

const lines = readFileSync(process.argv[2], 'utf8').split('\n').filter(l => l.length > 0);
let file = null, path = '', checked = 0;
const differences = [];
const expect = (what, got, want) => {
   if (!Object.is(got, want)) differences.push(`${path}: ${what}: jsroot ${JSON.stringify(got)}, written ${JSON.stringify(want)}`);
};

for (const line of lines) {
   if (line.startsWith('FILE ')) {
      path = line.slice(5);
      file = await openFile(path);
      continue;
   }
   const want = JSON.parse(line);
   const h = await file.readObject(want.name);
   const at = want.name;
   expect(`${at} class`, h._typename, 'TH1D');
   expect(`${at} title`, h.fTitle, want.title);
   expect(`${at} x title`, h.fXaxis.fTitle, want.xtitle);
   expect(`${at} y title`, h.fYaxis.fTitle, want.ytitle);
   expect(`${at} bins`, h.fXaxis.fNbins, want.nbins);
   expect(`${at} xmin`, h.fXaxis.fXmin, want.xmin);
   expect(`${at} xmax`, h.fXaxis.fXmax, want.xmax);
   expect(`${at} entries`, h.fEntries, want.entries);
   expect(`${at} sums`, [h.fTsumw, h.fTsumw2, h.fTsumwx, h.fTsumwx2].join(' '), want.sums.join(' '));
   expect(`${at} line colour`, h.fLineColor, want.lineColor);
   expect(`${at} cells`, h.fNcells, want.bins.length);
   expect(`${at} array length`, h.fArray.length, want.bins.length);
   want.bins.forEach((v, i) => expect(`${at} bin ${i}`, h.fArray[i], v));
   const labels = h.fXaxis.fLabels ? h.fXaxis.fLabels.arr : [];
   expect(`${at} label count`, labels.length, want.labels.length);
   want.labels.forEach((text, i) => {
      // jsroot gives a TString's bytes one character each; the labels are UTF-8.
      expect(`${at} label ${i + 1}`, Buffer.from(labels[i]?.fString ?? '', 'latin1').toString('utf8'), text);
      expect(`${at} label ${i + 1} bin`, labels[i]?.fUniqueID, i + 1);
   });
   ++checked;
}
for (const d of differences) console.log(d);
if (differences.length || checked === 0) process.exit(1);
console.log(`${checked} histograms read back exactly`);
