// Prints the entries of an RNTuple as read by jsroot, one JSON object per line, in the
// form `treedump FILE NAME --json` prints (floats shortest round-trip by field type,
// records as objects, std::pair as first/second, collections as arrays).
//
//   node dump_rntuple.mjs FILE NAME --list     entry count, then each top-level field and
//                                              its type name ("-" when it has none)
//   node dump_rntuple.mjs FILE NAME --fields   the top-level fields jsroot can read
//   node dump_rntuple.mjs FILE NAME FIELD...   their entries
//
// jsroot 7.11 reads only the first cluster group, and no projected, untyped, RVec or
// cardinality fields: --fields leaves those out. Exit code 1 on error.
import { openFile } from 'jsroot';
import { readHeaderFooter, rntupleProcess } from 'jsroot/rntuple';
import { TSelector } from 'jsroot/tree';
import { formatReal } from './dump.mjs';

const kIntegers = /^(char|std::u?int(8|16|32|64)_t|std::byte)$/;

function children(fields, id) {
   return fields.map((f, i) => ({ f, i })).filter(({ f, i }) => i !== id && f.parentFieldId === id);
}

// Whether jsroot's reader handles the field and everything below it.
function jsrootReads(fields, id) {
   const f = fields[id];
   if ((f.flags & 0x02) || !f.typeName || f.typeName.startsWith('ROOT::VecOps::RVec') ||
       f.typeName.startsWith('ROOT::RNTupleCardinality') || f.structRole === 4)
      return false;
   return children(fields, id).every(({ i }) => jsrootReads(fields, i));
}

function format(fields, id, v) {
   const f = fields[id], t = f.typeName, subs = children(fields, id);
   if (t === 'bool') return v ? 'true' : 'false';
   if (t === 'float') return formatReal(Math.fround(Number(v)), true);  // jsroot leaves quantized values in double
   if (t === 'double') return formatReal(Number(v), false);
   if (kIntegers.test(t)) return typeof v === 'string' ? String(v.charCodeAt(0)) : String(v);
   if (t === 'std::string') return JSON.stringify(v);
   if (t.startsWith('std::atomic<')) return format(fields, subs[0].i, v);
   if (t.startsWith('std::bitset<')) {
      const n = Number(f.arraySize), bits = [];
      for (let k = 0; k < n; ++k) bits.push((BigInt(v) >> BigInt(k)) & 1n ? 'true' : 'false');
      return `[${bits.join(',')}]`;
   }
   if (t.startsWith('std::pair<'))
      return `{"first":${format(fields, subs[0].i, v.first)},"second":${format(fields, subs[1].i, v.second)}}`;
   if (t.startsWith('std::variant<')) {
      if (v === null || v === undefined) return 'null';
      const alt = subs.find(({ f: s }) => (typeof v === 'string') === (s.typeName === 'std::string') &&
                                          (typeof v !== 'number' || !Number.isInteger(v) || kIntegers.test(s.typeName)));
      return format(fields, (alt ?? subs[0]).i, v);
   }
   if (Array.isArray(v) || ArrayBuffer.isView(v)) return `[${Array.from(v).map(e => format(fields, subs[0].i, e)).join(',')}]`;
   if (typeof v === 'object' && v !== null)
      return `{${subs.map(({ f: s, i }) => `${JSON.stringify(s.fieldName)}:${format(fields, i, v[s.fieldName])}`).join(',')}}`;
   return String(v);
}

async function main() {
   const [path, name, ...wanted] = process.argv.slice(2);
   const realLog = console.log;
   console.log = () => {};  // jsroot prints its warnings on standard output
   const file = await openFile(path);
   const tuple = await file.readObject(name);
   const builder = await readHeaderFooter(tuple);
   if (!builder) throw new Error(`${path}: ${name}: jsroot cannot read the header and footer`);
   const fields = builder.fieldDescriptors;
   const top = fields.map((f, i) => ({ f, i })).filter(({ f, i }) => f.parentFieldId === i);
   console.log = realLog;
   if (wanted[0] === '--list') {
      const entries = builder.clusterSummaries.reduce((n, s) => n + Number(s.numEntries), 0);
      process.stdout.write([`entries ${entries}`, ...top.map(({ f }) => `${f.fieldName} ${f.typeName || '-'}`)].join('\n') + '\n');
      return;
   }
   if (wanted[0] === '--fields') {
      process.stdout.write(top.filter(({ i }) => jsrootReads(fields, i)).map(({ f }) => f.fieldName).join('\n') + '\n');
      return;
   }
   const chosen = top.filter(({ f }) => wanted.includes(f.fieldName));
   const selector = new TSelector();
   chosen.forEach(({ f }, k) => selector.addBranch(f.fieldName, `f${k}`));
   const out = [];
   selector.Process = function() {
      out.push(`{${chosen.map(({ f, i }, k) => `${JSON.stringify(f.fieldName)}:${format(fields, i, this.tgtobj[`f${k}`])}`).join(',')}}\n`);
   };
   console.log = () => {};
   await rntupleProcess(tuple, selector);
   console.log = realLog;
   process.stdout.write(out.join(''));
}

main().catch(err => {
   process.stderr.write(`${err?.message ?? err}\n`);
   process.exit(1);
});
