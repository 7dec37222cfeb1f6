#!/usr/bin/env bash
# make-example writes the tree the skim expects: about 1,500 branches in the families and
# type mix of a production file, counts that agree with their arrays, values that jsroot
# reads exactly as treedump does, a selection that keeps a few per cent, and the same
# values for the same seed.
#   bash make_example.test.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: make_example.test.sh BUILD_DIR}" && pwd)"
make_example="$build/make-example"
treedump="$build/treedump"

source "$here/common.sh"
require_tools "$build" make-example treedump
require_jsroot

failed=0
fail() { echo "FAIL $*" >&2; failed=1; }
ok() { echo "ok   $*"; }

# --- command line -------------------------------------------------------------------------
"$make_example" --help > "$tmp/help"
grep -q -- "--compression" "$tmp/help" || fail "--help does not describe the options"
if "$make_example" --events -3 --output "$tmp/x.root" 2> "$tmp/err"; then fail "negative --events accepted"; fi
grep -q -- "--events" "$tmp/err" || fail "bad --events: message does not name the option: $(cat "$tmp/err")"
if "$make_example" --compression 907 --output "$tmp/x.root" 2> "$tmp/err"; then fail "unknown setting accepted"; fi
if "$make_example" --events 10 --quiet --output "$tmp/no/such/dir/x.root" 2> "$tmp/err"; then
  fail "unwritable output accepted"
fi
grep -q "no/such/dir/x.root" "$tmp/err" || fail "unwritable output: message does not name the file: $(cat "$tmp/err")"
[ -e "$tmp/x.root" ] && fail "a rejected command line left a file behind"
ok "command line"

# --- files: production settings (LZMA 9) and fast ones (zlib 1), each twice -----------------
# The file's own name is stored in it: the repeat goes to the same name in another folder.
mkdir "$tmp/again"
"$make_example" --events 300 --seed 7 --quiet --output "$tmp/lzma.root"
"$make_example" --events 300 --seed 7 --quiet --output "$tmp/again/lzma.root"
"$make_example" --events 3000 --seed 7 --compression 101 --cluster 1000 --quiet --output "$tmp/zlib.root"
"$make_example" --events 600 --seed 8 --quiet --output "$tmp/other.root"

"$treedump" "$tmp/zlib.root" Events > "$tmp/branches"
head -1 "$tmp/branches" | grep -qx "entries 3000" || fail "zlib.root: $(head -1 "$tmp/branches"), expected 3000 entries"
tail -n +2 "$tmp/branches" > "$tmp/list"

# --- branch families and type mix ---------------------------------------------------------
count() { awk -v t="$1" '$2 == t' "$tmp/list" | wc -l; }
prefix() { awk -v p="$1" 'index($1, p) == 1' "$tmp/list" | wc -l; }
in_range() {  # NAME VALUE LOW HIGH
  if [ "$2" -lt "$3" ] || [ "$2" -gt "$4" ]; then fail "$1: $2, expected $3 to $4"; fi
}
in_range "branches" "$(wc -l < "$tmp/list")" 1400 1700
in_range "bool branches" "$(count O)" 900 1150
in_range "float branches" "$(count F)" 330 480
in_range "int32 branches" "$(count I)" 80 130
in_range "uint8 branches" "$(count b)" 35 70
in_range "uint32 branches" "$(count i)" 25 40
in_range "HLT_ paths" "$(prefix HLT_)" 500 650
in_range "L1_ bits" "$(prefix L1_)" 200 450
in_range "Flag_ filters" "$(prefix Flag_)" 10 40
for b in "run i" "luminosityBlock i" "event l" "genWeight F" "MET_pt F" "MET_phi F" "PV_npvs I" \
         "fixedGridRhoFastjetAll F" "Pileup_nTrueInt F" "LHEWeight_originalXWGTUP F" "Generator_weight F" \
         "btagWeight_DeepCSVB F" "Flag_METFilters O" "HLT_IsoMu24 O"; do
  grep -qx "$b -" "$tmp/list" || fail "no scalar branch '$b'"
done
# Every collection has an unsigned count and arrays indexed by it.
for c in Electron Muon Tau Photon Jet FatJet SubJet GenPart GenJet GenJetAK8 SV TrigObj IsoTrack LHEPart; do
  grep -qx "n$c i -" "$tmp/list" || fail "no count branch n$c"
  grep -qx "${c}_pt F n$c" "$tmp/list" || fail "no ${c}_pt[n$c]"
done
# Whatever the selection reads, in the types it reads them.
for b in "Electron_cutBased I" "Electron_deltaEtaSC F" "Electron_dz F" "Electron_dxy F" "Muon_tightId O" \
         "Muon_pfRelIso04_all F" "FatJet_msoftdrop F" "FatJet_particleNetMD_Xbb F" "FatJet_particleNetMD_QCD F"; do
  set -- $b
  grep -q "^$1 $2 n" "$tmp/list" || fail "no array branch $1 of type $2"
done
# Families the skim's keep list drops, so that pruning has work to do.
for p in L1_ TrigObj_ SV_ IsoTrack_ Photon_ CorrT1METJet_ PuppiMET_; do
  [ "$(prefix "$p")" -gt 0 ] || fail "no $p* branches"
done
ok "branch families: $(wc -l < "$tmp/list") branches ($(count O) bool, $(count F) float, $(count I) int32, $(count b) uint8, $(count i) uint32, $(count l) uint64)"

# --- counts agree with arrays; values are physical ----------------------------------------
arrays=(nElectron Electron_pt Electron_eta Electron_cutBased nMuon Muon_pt Muon_tightId
        nJet Jet_pt Jet_eta Jet_phi nFatJet FatJet_pt FatJet_mass FatJet_particleNetMD_Xbb
        nGenPart GenPart_pt GenPart_pdgId nTrigObj TrigObj_id nLHEPdfWeight LHEPdfWeight
        MET_pt event run luminosityBlock genWeight)
branch_args=()
for b in "${arrays[@]}"; do branch_args+=(--branch "$b"); done
"$treedump" "$tmp/zlib.root" Events --json "${branch_args[@]}" > "$tmp/arrays.json"
if ! node - "$tmp/arrays.json" <<'EOF'
const lines = require("fs").readFileSync(process.argv[2], "utf8").split("\n").filter(Boolean);
const problems = [];
const check = (cond, what) => { if (!cond && problems.length < 10) problems.push(what); };
let previous = -1, sorted = 0, pdf = 0;
const counted = { nElectron: ["Electron_pt", "Electron_eta", "Electron_cutBased"], nMuon: ["Muon_pt", "Muon_tightId"],
  nJet: ["Jet_pt", "Jet_eta", "Jet_phi"], nFatJet: ["FatJet_pt", "FatJet_mass", "FatJet_particleNetMD_Xbb"],
  nGenPart: ["GenPart_pt", "GenPart_pdgId"], nTrigObj: ["TrigObj_id"], nLHEPdfWeight: ["LHEPdfWeight"] };
lines.forEach((line, i) => {
  // Keeps the 64-bit event number exact.
  const e = JSON.parse(line.replace(/"event":(\d+)/, '"event":"$1"'));
  for (const [n, arrays] of Object.entries(counted))
    for (const a of arrays) check(e[a].length === e[n], `entry ${i}: ${a} has ${e[a].length} elements, ${n} = ${e[n]}`);
  const event = BigInt(e.event);
  check(event > previous, `entry ${i}: event ${event} not after ${previous}`);
  previous = event;
  check(e.run === 1 && e.luminosityBlock >= 1, `entry ${i}: run ${e.run} lumi ${e.luminosityBlock}`);
  check(e.MET_pt >= 0 && e.MET_pt < 14000, `entry ${i}: MET_pt ${e.MET_pt}`);
  check(Math.abs(e.genWeight) > 0, `entry ${i}: genWeight ${e.genWeight}`);
  check(e.Jet_pt.every(pt => pt > 0 && pt < 14000), `entry ${i}: Jet_pt ${e.Jet_pt}`);
  check(e.Jet_eta.every(x => Math.abs(x) < 5.2) && e.Jet_phi.every(x => Math.abs(x) <= Math.PI + 1e-6),
        `entry ${i}: jet direction`);
  check(e.Electron_cutBased.every(x => x >= 0 && x <= 4), `entry ${i}: Electron_cutBased ${e.Electron_cutBased}`);
  check(e.FatJet_particleNetMD_Xbb.every(x => x >= 0 && x <= 1), `entry ${i}: Xbb ${e.FatJet_particleNetMD_Xbb}`);
  check(e.nLHEPdfWeight === 103, `entry ${i}: nLHEPdfWeight ${e.nLHEPdfWeight}`);
  if (e.Jet_pt.every((pt, k) => k === 0 || pt <= e.Jet_pt[k - 1])) ++sorted;
  pdf += e.LHEPdfWeight.reduce((s, w) => s + w, 0) / 103;
});
check(lines.length === 3000, `${lines.length} entries`);
check(sorted === lines.length, `jets not ordered by pt in ${lines.length - sorted} entries`);
check(Math.abs(pdf / lines.length - 1) < 0.01, `mean PDF weight ${pdf / lines.length}`);
if (problems.length) { console.error(problems.join("\n")); process.exit(1); }
EOF
then fail "zlib.root: counts, arrays or values"
else ok "counts agree with arrays; values in physical ranges"
fi

# --- jsroot reads what treedump reads ------------------------------------------------------
# Every branch of the LZMA file, and a sample of every type from the zlib file (its
# clusters of 1000 entries give each branch several baskets).
"$treedump" "$tmp/lzma.root" Events --json > "$tmp/lzma.ours"
node "$here/dump.mjs" "$tmp/lzma.root" Events > "$tmp/lzma.jsroot" || fail "jsroot cannot read lzma.root"
if cmp -s "$tmp/lzma.ours" "$tmp/lzma.jsroot"; then ok "jsroot reads every branch of lzma.root as treedump does"
else fail "lzma.root: jsroot and treedump disagree"; fi

sample=(run luminosityBlock event HLT_IsoMu24 HLT_Ele32_WPTight_Gsf L1_SingleMu22 Flag_METFilters
        nElectron Electron_pt Electron_cutBased Electron_vidNestedWPBitmap Electron_lostHits
        nGenPart GenPart_eta GenPart_genPartIdxMother GenPart_statusFlags nLHEPdfWeight LHEPdfWeight
        nTrigObj TrigObj_l1pt nFatJet FatJet_msoftdrop Muon_tightId MET_pt Pileup_nPU)
sample_args=()
for b in "${sample[@]}"; do
  grep -q "^$b " "$tmp/list" || fail "sample branch $b missing"
  sample_args+=(--branch "$b")
done
"$treedump" "$tmp/zlib.root" Events --json "${sample_args[@]}" > "$tmp/zlib.ours"
node "$here/dump.mjs" "$tmp/zlib.root" Events "${sample[@]}" > "$tmp/zlib.jsroot" || fail "jsroot cannot read zlib.root"
if cmp -s "$tmp/zlib.ours" "$tmp/zlib.jsroot"; then ok "jsroot reads ${#sample[@]} sample branches of zlib.root as treedump does"
else fail "zlib.root: jsroot and treedump disagree"; fi

# --- the same seed gives the same file --------------------------------------------------------
# Files carry their creation time and a fresh UUID, and the compressed keys list holds the
# times, so bytes and even sizes may differ there; values must not.
"$treedump" "$tmp/again/lzma.root" Events --json > "$tmp/again.ours"
cmp -s "$tmp/lzma.ours" "$tmp/again.ours" || fail "same seed, different values"
"$treedump" "$tmp/other.root" Events --json --count 300 > "$tmp/other.ours"
cmp -s "$tmp/lzma.ours" "$tmp/other.ours" && fail "a different seed gave the same values"
ok "same seed, same values; another seed, other values"

# With a fixed build time (SOURCE_DATE_EPOCH) the same seed and name give the same bytes.
mkdir "$tmp/fixed1" "$tmp/fixed2"
for d in fixed1 fixed2; do
  (cd "$tmp/$d" && SOURCE_DATE_EPOCH=1700000000 "$make_example" --events 300 --seed 7 --quiet --output lzma.root)
done
cmp -s "$tmp/fixed1/lzma.root" "$tmp/fixed2/lzma.root" || fail "SOURCE_DATE_EPOCH set, same seed, different bytes"
ok "fixed build time: same seed, same bytes"

# --- on disk like a production file -------------------------------------------------------
# What 300 more events add, leaving out the tree's description (~0.5 MB for 1,500 branches).
bytes_per_event=$(( ($(stat -c %s "$tmp/other.root") - $(stat -c %s "$tmp/lzma.root")) / 300 ))
in_range "bytes per event at LZMA 9" "$bytes_per_event" 1000 3500
ok "$bytes_per_event bytes per event at LZMA 9"

# --- the skim keeps a few per cent -----------------------------------------------------------
if [ -x "$build/skim" ]; then
  mkdir "$tmp/run"
  ln -s ../zlib.root "$tmp/run/example_RunIISummer20UL18.root"
  (cd "$tmp/run" && "$build/skim" > skim.out) || fail "skim failed on zlib.root"
  selected=$(grep -c '^done$' "$tmp/run/skim.out" || true)
  in_range "events selected of 3000" "$selected" 30 200
  "$treedump" "$tmp/run/output.root" Events > "$tmp/output-branches"
  head -1 "$tmp/output-branches" | grep -qx "entries $selected" || fail "output.root: $(head -1 "$tmp/output-branches")"
  ok "skim keeps $selected of 3000 events"
fi

exit "$failed"
