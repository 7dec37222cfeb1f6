// Reads an RNTuple with jsroot and compares every entry with an expected dump (one JSON
// object per entry, in treedump's form), field by field: floats as float32, doubles as
// float64 bits, 8- to 32-bit integers and bools exactly, strings as text, vectors element
// by element. jsroot 7.11 hands 64-bit integers over as doubles, so those are compared at
// the double nearest the expected value (exact below 2^53).
//
//   node check_ntuple.mjs FILE NTUPLE EXPECTED TYPES
//
// TYPES holds NAME=LETTER lines (treedump's letters; T for std::string), the fields read.
import { readFileSync } from 'node:fs';
import { openFile, TSelector } from 'jsroot';
import { rntupleProcess } from 'jsroot/rntuple';

const [path, name, expectedFile, typesFile] = process.argv.slice(2);
const types = readFileSync(typesFile, 'utf8').split('\n').filter(Boolean).map(l => l.split('='));
const expected = readFileSync(expectedFile, 'utf8').split('\n').filter(Boolean);
// Numbers kept as text so 64-bit integers stay exact.
const parse = line => JSON.parse(line.replace(/(?<=[:,[])(-?[0-9][0-9.eE+-]*)(?=[,\]}])/g, '"#$1"'));
const num = v => (v === 'nan' ? NaN : v === 'inf' ? Infinity : v === '-inf' ? -Infinity : Number(v.slice(1)));

function same(want, got, t) {
   if (Array.isArray(want))
      return got !== null && typeof got === 'object' && want.length === got.length &&
             want.every((w, i) => same(w, got[i], t));
   switch (t) {
      case 'O': return want === got;
      case 'T': return want === got;
      case 'F': return Object.is(Math.fround(num(want)), Math.fround(got));
      case 'D': return Object.is(num(want), got);
      case 'L': case 'l': return Number(BigInt(want.slice(1))) === Number(got);
      default: return typeof want === 'string' && BigInt(want.slice(1)) === BigInt(got);
   }
}

const show = v => JSON.stringify(v, (k, x) => (typeof x === 'bigint' ? String(x) : x));

async function main() {
   const realLog = console.log;
   console.log = () => {};  // jsroot's notes on standard output
   const file = await openFile(path);
   const tuple = await file.readObject(name);
   const selector = new TSelector();
   types.forEach(([field], i) => selector.addBranch(field, `f${i}`));
   let entry = 0, bad = 0;
   selector.Process = function() {
      if (entry >= expected.length) {
         ++entry;
         return;
      }
      const want = parse(expected[entry]);
      types.forEach(([field, t], i) => {
         const got = this.tgtobj[`f${i}`];
         if (bad < 10 && !same(want[field], got, t)) {
            console.error(`${path}: entry ${entry}: ${field}: expected ${show(want[field])}, jsroot read ${show(got)}`);
            ++bad;
         }
      });
      ++entry;
   };
   await rntupleProcess(tuple, selector);
   console.log = realLog;
   if (entry !== expected.length) {
      console.error(`${path}: jsroot read ${entry} entries, expected ${expected.length}`);
      ++bad;
   }
   if (bad) process.exit(1);
}

main().catch(err => {
   process.stderr.write(`${path}: ${err?.message ?? err}\n`);
   process.exit(1);
});
