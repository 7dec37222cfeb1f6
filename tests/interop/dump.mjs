// Prints every entry of a tree as one JSON object per line, read by jsroot, in the form
// `treedump FILE TREE --json` prints: keys in branch order, arrays for array branches,
// floats in the shortest form that reads back to the same float32/float64, 64-bit
// integers exact, non-finite floats as "nan", "inf", "-inf".
//
//   node dump.mjs FILE TREE [BRANCH...]
//   node dump.mjs FILE TREE --list     entry count, then each basic-type branch with its type
//                                      letter, as `treedump FILE TREE` lists them
//
// Without BRANCH arguments every branch of basic type is printed. Exit code 1 on error.
import { pathToFileURL } from 'node:url';
import { openFile, treeProcess, TSelector } from 'jsroot';

const kBasicLeaves = ['TLeafO', 'TLeafB', 'TLeafS', 'TLeafI', 'TLeafL', 'TLeafF', 'TLeafD'];

function splitExponential(s) {
   const [mant, exp] = s.split('e');
   return { digits: mant.replace('.', ''), exp: Number(exp) };
}

// Shortest decimal digits that read back to `x` (positive) at the given precision; of two
// equally near candidates the even one, as std::to_chars picks (toExponential rounds half up).
function shortestDigits(x, isFloat) {
   const readsBack = s => (isFloat ? Math.fround(Number(s)) === x : Number(s) === x);
   for (let p = 1; p <= 17; ++p) {
      const s = x.toExponential(p - 1);
      if (!readsBack(s)) continue;
      const found = splitExponential(s);
      const exact = splitExponential(x.toExponential(Math.min(100, p + 60)));
      const rest = exact.digits.slice(p);
      const tie = /^50*$/.test(rest);
      const odd = Number(found.digits[found.digits.length - 1]) % 2 === 1;
      if (tie && odd) {
         const down = { digits: exact.digits.slice(0, p), exp: exact.exp };
         const text = `${down.digits[0]}.${down.digits.slice(1)}e${down.exp}`;
         if (readsBack(text)) return down;
      }
      return found;
   }
   throw new Error(`no shortest form for ${x}`);
}

// The text std::to_chars(value) gives: shortest digits, fixed or scientific, whichever is
// shorter (fixed on a tie).
export function formatReal(x, isFloat) {
   if (Number.isNaN(x)) return '"nan"';
   if (x === Infinity) return '"inf"';
   if (x === -Infinity) return '"-inf"';
   const sign = (x < 0 || Object.is(x, -0)) ? '-' : '';
   if (x === 0) return `${sign}0`;
   const { digits, exp } = shortestDigits(Math.abs(x), isFloat);
   let fixed;
   if (exp >= digits.length - 1)
      fixed = digits + '0'.repeat(exp - digits.length + 1);
   else if (exp >= 0)
      fixed = `${digits.slice(0, exp + 1)}.${digits.slice(exp + 1)}`;
   else
      fixed = `0.${'0'.repeat(-exp - 1)}${digits}`;
   const mant = digits.length > 1 ? `${digits[0]}.${digits.slice(1)}` : digits;
   const expAbs = Math.abs(exp);
   const sci = `${mant}e${exp < 0 ? '-' : '+'}${expAbs < 10 ? '0' : ''}${expAbs}`;
   return sign + (sci.length < fixed.length ? sci : fixed);
}

function formatElement(v, kind) {
   switch (kind) {
      case 'O': return v ? 'true' : 'false';
      case 'F': return formatReal(Number(v), true);
      case 'D': return formatReal(Number(v), false);
      case 'B': return String(v > 127 ? v - 256 : v);
      default: return String(v); // integers; 64-bit ones arrive as BigInt when beyond 2^53
   }
}

// x[n][k] arrives as one array of k values per element of x; treedump prints them flat.
function flatten(v) {
   return Array.from(v).flatMap(e => (typeof e === 'object' && e !== null ? Array.from(e) : [e]));
}

function kindOf(leaf) {
   switch (leaf._typename) {
      case 'TLeafO': return 'O';
      case 'TLeafF': return 'F';
      case 'TLeafD': return 'D';
      default: return 'I';
   }
}

function basicBranch(branch) {
   const leaves = branch.fLeaves?.arr ?? [];
   return branch._typename === 'TBranch' && (branch.fBranches?.arr?.length ?? 0) === 0 &&
          leaves.length === 1 && kBasicLeaves.includes(leaves[0]._typename);
}

// The letter treedump gives a leaf type: upper case signed, lower case unsigned.
function letterOf(leaf) {
   const letter = leaf._typename.slice(-1);
   return leaf.fIsUnsigned && 'BSIL'.includes(letter) ? letter.toLowerCase() : letter;
}

// jsroot prints its warnings on standard output; the listing must not mix with them.
function printListing(tree) {
   const lines = [`entries ${tree.fEntries}`];
   for (const b of tree.fBranches.arr.filter(basicBranch))
      lines.push(`${b.fName} ${letterOf(b.fLeaves.arr[0])}`);
   return lines.join('\n') + '\n';
}

async function main() {
   const [path, treeName, ...wanted] = process.argv.slice(2);
   if (!path || !treeName) {
      process.stderr.write('usage: node dump.mjs FILE TREE [BRANCH...|--list]\n');
      process.exit(1);
   }
   const listOnly = wanted[0] === '--list';
   const realLog = console.log;
   if (listOnly) console.log = () => {};
   const file = await openFile(path);
   const tree = await file.readObject(treeName);
   if (listOnly) {
      console.log = realLog;
      process.stdout.write(printListing(tree));
      return;
   }
   const all = tree.fBranches.arr;
   let branches;
   if (wanted.length) {
      for (const name of wanted)
         if (!all.some(b => b.fName === name)) throw new Error(`${path}: tree ${treeName}: no branch named '${name}'`);
      branches = all.filter(b => wanted.includes(b.fName));
      const bad = branches.find(b => !basicBranch(b));
      if (bad) throw new Error(`${path}: tree ${treeName}: branch ${bad.fName} is not of basic type`);
   } else {
      branches = all.filter(basicBranch);
   }
   if (!branches.length || Number(tree.fEntries) === 0) return;

   const columns = branches.map((b, i) => {
      const leaf = b.fLeaves.arr[0];
      // jsroot turns fixed arrays of signed chars into strings cut at the first zero; read
      // them as unsigned bytes and restore the sign here.
      const signedBytes = leaf._typename === 'TLeafB' && !leaf.fIsUnsigned && leaf.fLen > 1;
      if (signedBytes) leaf.fIsUnsigned = true;
      return { name: b.fName, member: `b${i}`, kind: signedBytes ? 'B' : kindOf(leaf),
               array: leaf.fLen > 1 || !!leaf.fLeafCount };
   });
   const selector = new TSelector();
   columns.forEach((c, i) => selector.addBranch(branches[i], c.member));

   let out = [];
   const flush = () => {
      if (out.length) process.stdout.write(out.join(''));
      out = [];
   };
   selector.Process = function() {
      const parts = columns.map(c => {
         const v = this.tgtobj[c.member];
         const text = c.array ? `[${flatten(v).map(e => formatElement(e, c.kind)).join(',')}]`
                              : formatElement(v, c.kind);
         return `${JSON.stringify(c.name)}:${text}`;
      });
      out.push(`{${parts.join(',')}}\n`);
      if (out.length >= 1000) flush();
   };
   await treeProcess(tree, selector);
   flush();
}

// Run as a program, not when imported for formatReal.
if (import.meta.url === pathToFileURL(process.argv[1]).href) {
   main().catch(err => {
      process.stderr.write(`${err?.message ?? err}\n`);
      process.exit(1);
   });
}
