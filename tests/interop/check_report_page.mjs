// Opens a report page from the file system in headless Chromium, waits until its script
// has drawn every plot, saves a screenshot, and checks what was drawn: no console error or
// failed request, every plot an SVG with its histograms' bars, the cut-flow's bar heights
// and labels those of the ROOT file beside the page (read by jsroot in node).
//
//   node check_report_page.mjs PAGE ROOTFILE SCREENSHOT
//
// Exit code 1, with the reasons on stderr, when a check fails.
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';
import { openFile } from 'jsroot';

const [page_path, root_path, screenshot] = process.argv.slice(2);
const failures = [];
const fail = what => failures.push(what);

// The histograms each plot shows, as the page lists them, with the bins jsroot reads.
const file = await openFile(root_path);
const histograms = {};
for (const key of file.fKeys)
   if (key.fClassName === 'TH1D') histograms[key.fName] = await file.readObject(key.fName);

const profile = mkdtempSync(join(tmpdir(), 'report-browser-'));
const browser = await chromium.launchPersistentContext(profile, {
   executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
   headless: true,
   args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
          '--disable-component-update', '--disable-sync'],
   viewport: { width: 1200, height: 900 },
});
try {
   const page = await browser.newPage();
   page.on('console', msg => { if (msg.type() === 'error') fail(`console error: ${msg.text()}`); });
   page.on('pageerror', err => fail(`page error: ${err.message}`));
   // Everything is inline: any request but the page itself is a fault (and offline, a failure).
   page.on('request', req => { if (req.url() !== pathToFileURL(resolve(page_path)).href && !req.url().startsWith('data:')) fail(`request: ${req.url()}`); });

   await page.goto(pathToFileURL(resolve(page_path)).href);
   await page.waitForFunction(() => document.body.dataset.drawn, null, { timeout: 60000 });
   const drawn = await page.evaluate(() => document.body.dataset.drawn);
   if (drawn !== 'yes') fail(`page script ended with '${drawn}'`);
   await page.screenshot({ path: screenshot, fullPage: true });

   const plots = await page.evaluate(() => plots.map(p => p.id + ' ' + p.hists.join(' ')));
   if (plots.length < 2) fail(`only ${plots.length} plots listed`);
   for (const line of plots) {
      const [id, ...names] = line.split(' ');
      const found = await page.evaluate(id => {
         const svg = document.querySelector(`#${id} svg`);
         if (!svg) return null;
         const box = svg.getBoundingClientRect();
         // jsroot draws each histogram as one path of horizontal steps ("h" commands), in
         // the frame's main layer.
         const paths = [...svg.querySelectorAll('.main_layer path')].filter(p => !p.closest('[class*="axis"]'))
            .map(p => ({ d: p.getAttribute('d') || '', style: p.getAttribute('style') || '' }));
         const frame = Number((svg.querySelector('.root_frame path')?.getAttribute('d') || '').match(/H(\d+)/)?.[1]);
         const texts = [...svg.querySelectorAll('text')].map(t => t.textContent);
         const table = [...document.querySelectorAll('#cutflow-table tbody tr')].map(r => r.cells[1].textContent);
         return { width: box.width, height: box.height, paths, frame, texts, table };
      }, id);
      if (!found) { fail(`${id}: no svg`); continue; }
      if (found.width < 100 || found.height < 100) fail(`${id}: svg of ${found.width}x${found.height}`);
      if (!names.every(name => histograms[name])) { fail(`${id}: ${names} not all in ${root_path}`); continue; }
      // One step path per histogram, all events first. Its horizontal runs cover the frame,
      // each run a whole number of bins (jsroot merges neighbours of equal height): together
      // exactly the histogram's bins.
      const steps = found.paths.filter(p => /h/.test(p.d));
      if (steps.length !== names.length) { fail(`${id}: ${steps.length} histogram paths for ${names.length} histograms`); continue; }
      names.forEach((name, i) => {
         const nbins = histograms[name].fXaxis.fNbins;
         const runs = [...steps[i].d.matchAll(/h(-?[\d.]+)/g)].map(m => Number(m[1]));
         const width = runs.reduce((a, b) => a + b, 0);
         const bars = runs.reduce((n, w) => n + Math.round(w * nbins / width), 0);
         if (Math.abs(width - found.frame) > 1) fail(`${id}: ${name} spans ${width} of a ${found.frame} wide frame`);
         if (bars !== nbins || runs.some(w => Math.abs(w * nbins / width - Math.round(w * nbins / width)) > 0.2))
            fail(`${id}: ${name} drawn as ${bars} bars in runs ${runs}, histogram has ${nbins}`);
      });
      if (names.length === 2 && !/stroke: red/.test(steps[1].style)) fail(`${id}: selected events not drawn in red`);
      if (names.length === 1) {
         // The cut-flow: every stage's count printed above its bar and in the table, every
         // stage's label on the axis.
         const h = histograms[names[0]];
         const text = found.texts.join('').replace(/\s+/g, '');
         for (let bin = 1; bin <= h.fXaxis.fNbins; ++bin) {
            const count = String(h.fArray[bin]);
            if (!found.texts.includes(count)) fail(`${id}: no bar text ${count} for bin ${bin}`);
            if (found.table[bin - 1] !== count) fail(`table row ${bin}: ${found.table[bin - 1]}, file ${count}`);
            const label = h.fXaxis.fLabels.arr[bin - 1].fString.replace(/_\{([^}]*)\}/g, '$1').replace('#geq', '\u2265');
            if (!text.includes(label.replace(/\s+/g, ''))) fail(`${id}: no axis label '${label}'`);
         }
      }
   }
} finally {
   await browser.close();
   rmSync(profile, { recursive: true, force: true });
}
if (failures.length) {
   for (const f of failures) console.error(f);
   process.exit(1);
}
console.log('report page: every plot drawn');
