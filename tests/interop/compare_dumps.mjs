// Compares two entry dumps (treedump --json, dump.mjs) line by line. Identical text passes
// at once; otherwise values are compared per branch type (NAME=LETTER lines in TYPES):
// floats as float32, doubles as float64 bits, integers (64-bit too) and bools exactly.
//
//   node compare_dumps.mjs OURS JSROOT TYPES
//
// jsroot 7.11 reads a negative 64-bit integer whose low 32 bits are below 2^31 as 2^32
// too large (its int64 reader complements the low word as a signed 32-bit value). Such
// a value counts as equal only when it is exactly that misreading, and is reported.
import { readFileSync } from 'node:fs';

const [ours, theirs, typesFile] = process.argv.slice(2);
const types = new Map(readFileSync(typesFile, 'utf8').split('\n').filter(Boolean).map(l => l.split('=')));
const lines = f => readFileSync(f, 'utf8').split('\n').filter(Boolean);
const a = lines(ours), b = lines(theirs);
// Keeps numbers as text so 64-bit integers stay exact.
const parse = line => JSON.parse(line.replace(/(?<=[:,[])(-?[0-9][0-9.eE+-]*)(?=[,\]}])/g, '"#$1"'));
const num = v => (v === 'nan' ? NaN : v === 'inf' ? Infinity : v === '-inf' ? -Infinity : Number(v.slice(1)));
const two32 = 1n << 32n, two31 = 1n << 31n;
const jsrootInt64 = v => (v < 0n && BigInt.asUintN(32, v) < two31 ? v + two32 : v);
let misread = 0;

const same = (x, y, t) => {
  if (Array.isArray(x) || Array.isArray(y))
    return Array.isArray(x) && Array.isArray(y) && x.length === y.length && x.every((e, i) => same(e, y[i], t));
  if (t === 'O') return x === y;
  if (t === 'F') return Object.is(Math.fround(num(x)), Math.fround(num(y)));
  if (t === 'D') return Object.is(num(x), num(y));
  if (typeof x !== 'string' || typeof y !== 'string') return false;
  const u = BigInt(x.slice(1)), w = BigInt(y.slice(1));
  if (u === w) return true;
  if (t === 'L' && jsrootInt64(u) === w) return ++misread > 0;
  return false;
};

let bad = 0;
if (a.length !== b.length) {
  console.error(`entry count differs: ${a.length} vs ${b.length}`);
  bad++;
}
for (let i = 0; i < Math.min(a.length, b.length) && bad < 10; ++i) {
  if (a[i] === b[i]) continue;
  const x = parse(a[i]), y = parse(b[i]);
  const kx = Object.keys(x).join(','), ky = Object.keys(y).join(',');
  if (kx !== ky) {
    console.error(`entry ${i}: branches differ:\n  ${kx}\n  ${ky}`);
    bad++;
    continue;
  }
  for (const k of Object.keys(x)) {
    if (!types.has(k)) {
      console.error(`entry ${i}: ${k}: no type known`);
      bad++;
    } else if (!same(x[k], y[k], types.get(k))) {
      console.error(`entry ${i}: ${k}: ours ${JSON.stringify(x[k])}, jsroot ${JSON.stringify(y[k])}`);
      bad++;
    }
  }
}
if (misread) console.log(`note: ${misread} negative 64-bit values misread by jsroot as known`);
process.exit(bad ? 1 : 0);
