#!/usr/bin/env bash
# skim-slurm on a one-node Slurm cluster that this test starts and stops (its own folder and
# ports): six generated inputs, two per task, named through an @LIST, must give the entries
# and values of one `skim -o` over the same inputs, in the same order, and a summary that
# adds up; so must four RNTuples named by a pattern, their parts merged as RNTuples. Then
# one input is cut short: its task fails, the run names it (inputs and log), exits 1 and
# writes no output; after the file is put back, --resume reruns that task alone and the
# merge equals the single skim again.
#   bash skim_slurm.test.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$(cd "${1:?usage: skim_slurm.test.sh BUILD_DIR}" && pwd)"

fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in skim skim-inputs treemerge treedump make-example; do
  [ -x "$build/$tool" ] || fail "no $tool in $build (build it first)"
done

# Two free ports (controller, node) picked at random, so that runs side by side, or a
# cluster already running here, do not meet.
port_free() { ! (exec 3<> "/dev/tcp/127.0.0.1/$1") 2> /dev/null; }
port="${SKIM_TEST_SLURM_PORT:-}"
for _ in $(seq 50); do
  [ -n "$port" ] && break
  p=$((20000 + RANDOM % 20000))
  port_free "$p" && port_free $((p + 1)) && port=$p
done
[ -n "$port" ] || fail "no two free ports found"

tmp="$(mktemp -d)"
export SLURM_LOCAL_DIR="$tmp/cluster" SLURM_LOCAL_PORT="$port"
cleanup() {
  bash "$root/scripts/slurm-local.sh" stop > /dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap cleanup EXIT

start_log="$(bash "$root/scripts/slurm-local.sh" start 2> "$tmp/start.err")" ||
  fail "the cluster did not start: $(tail -n 3 "$tmp/start.err")"
[ "$start_log" = "export SLURM_CONF=$SLURM_LOCAL_DIR/slurm.conf" ] || fail "start printed: $start_log"
bash "$root/scripts/slurm-local.sh" start > /dev/null 2>&1 || fail "a second start of a running cluster failed"
bash "$root/scripts/slurm-local.sh" status > "$tmp/status" || fail "status of a ready cluster: $(cat "$tmp/status")"

mkdir "$tmp/data"
for i in 1 2 3 4 5 6; do
  "$build/make-example" --events 400 --seed "$i" --compression 101 --quiet --output "$tmp/data/in$i.root"
done
printf '# the dataset\n%s\n' "$tmp"/data/in{1,2,3,4,5,6}.root > "$tmp/files.txt"
cp "$tmp/data/in4.root" "$tmp/in4.good"

(cd "$tmp" && "$build/skim" -o single.root @files.txt > /dev/null 2> skim.err) || fail "skim: $(cat "$tmp/skim.err")"
"$build/treedump" "$tmp/single.root" Events --json > "$tmp/single.json"
selected=$(wc -l < "$tmp/single.json")
[ "$selected" -gt 0 ] || fail "the single skim selected nothing; the comparison would prove little"

run() {
  (cd "$tmp" && SKIM_BUILD_DIR="$build" SKIM_SLURM_POLL=0.5 "$root/scripts/skim-slurm" "$@")
}
same_as_single() {
  "$build/treedump" "$tmp/merged.root" Events --json > "$tmp/merged.json"
  cmp -s "$tmp/single.json" "$tmp/merged.json" ||
    fail "$1: merged.root differs from the single skim ($(wc -l < "$tmp/merged.json") entries, not $selected)"
  [ "$("$build/treedump" "$tmp/merged.root" Events | tail -n +2)" = "$("$build/treedump" "$tmp/single.root" Events | tail -n +2)" ] ||
    fail "$1: merged.root has other branches than the single skim"
}

# --- a clean run, right after a plain start (no eval) ------------------------------------
unset SLURM_CONF
plain="plain start"
if [ -e /etc/slurm/slurm.conf ]; then
  plain="start with eval (the machine's own /etc/slurm/slurm.conf would be used without)"
  eval "$start_log"
fi
run -o merged.root --files-per-task 2 @files.txt > "$tmp/summary" 2> "$tmp/err" ||
  fail "skim-slurm after a $plain failed: $(cat "$tmp/err")"
same_as_single "clean run"
grep -Eq "^all +2400 +$selected\$" "$tmp/summary" || fail "summary totals: $(cat "$tmp/summary")"
[ "$(grep -Ec '^[0-2] +800 +[0-9]+ +[0-9.]+s$' "$tmp/summary")" -eq 3 ] ||
  fail "summary: not three tasks of 800 events with a wall time: $(cat "$tmp/summary")"
ls "$tmp/merged.root.parts/log/task-2.log" > /dev/null || fail "no log of task 2"
echo "ok   3 tasks over 6 files after a $plain: $selected entries, equal to the single skim"

# The rest as the README shows it, with eval.
eval "$start_log"

# --- a task that fails, then --resume ---------------------------------------------------
head -c 30000 "$tmp/in4.good" > "$tmp/data/in4.root"
if run -o merged.root --files-per-task 2 @files.txt > "$tmp/summary" 2> "$tmp/err"; then
  fail "a run with a corrupt input exited 0"
fi
[ ! -e "$tmp/merged.root" ] || fail "a failed run left merged.root"
grep -q "task 1 failed.*in3.root.*in4.root; log $tmp/merged.root.parts/log/task-1.log" "$tmp/err" ||
  fail "the failed task is not named with its inputs and log: $(cat "$tmp/err")"
grep -q "in4.root" "$tmp/merged.root.parts/log/task-1.log" || fail "task 1's log does not name the bad file"
grep -q "task 0 failed\|task 2 failed" "$tmp/err" && fail "a good task was reported failed: $(cat "$tmp/err")"
echo "ok   corrupt input: task 1 named with its inputs and log, exit 1, no output"

part0_before="$(stat -c %Y.%i "$tmp/merged.root.parts/part-0.root")"
cp "$tmp/in4.good" "$tmp/data/in4.root"
run -o merged.root --resume > "$tmp/summary" 2> "$tmp/err" || fail "--resume failed: $(cat "$tmp/err")"
grep -q "(2 done before)" "$tmp/err" || fail "--resume did not keep the two good tasks: $(cat "$tmp/err")"
[ "$(stat -c %Y.%i "$tmp/merged.root.parts/part-0.root")" = "$part0_before" ] || fail "--resume rewrote task 0's part"
same_as_single "resumed run"
grep -Eq "^all +2400 +$selected\$" "$tmp/summary" || fail "summary totals after --resume: $(cat "$tmp/summary")"
echo "ok   --resume after the input was replaced: only task 1 rerun, merge equal to the single skim"

# --- RNTuple inputs: RNTuple parts, merged as RNTuples --------------------------------------
mkdir "$tmp/rdata"
for i in 1 2 3 4; do
  "$build/make-example" --format rntuple --events 400 --seed "$i" --cluster 150 --compression 101 --quiet \
    --output "$tmp/rdata/r$i.root"
done
[ "$("$build/skim-inputs" "$tmp/rdata/*.root")" = "$(printf '%s\n' "$tmp"/rdata/r{1,2,3,4}.root)" ] ||
  fail "skim-inputs over a folder of RNTuples: $("$build/skim-inputs" "$tmp/rdata/*.root")"
(cd "$tmp" && "$build/skim" -o single.root "$tmp/rdata/*.root" > /dev/null 2> skim.err) || fail "skim: $(cat "$tmp/skim.err")"
"$build/treedump" "$tmp/single.root" Events --json > "$tmp/single.json"
selected=$(wc -l < "$tmp/single.json")
[ "$selected" -gt 0 ] || fail "the single RNTuple skim selected nothing"
run -o merged.root --workdir rparts --files-per-task 2 "$tmp/rdata/*.root" > "$tmp/summary" 2> "$tmp/err" ||
  fail "skim-slurm over RNTuples failed: $(cat "$tmp/err")"
"$build/treedump" "$tmp/merged.root" | grep -q "^Events ROOT::RNTuple " || fail "the merge of RNTuple parts is no RNTuple"
same_as_single "RNTuple run"
grep -Eq "^all +1600 +$selected\$" "$tmp/summary" || fail "RNTuple summary totals: $(cat "$tmp/summary")"
echo "ok   2 tasks over 4 RNTuples named by a pattern: $selected entries in an RNTuple, equal to the single skim"

bash "$root/scripts/slurm-local.sh" stop > /dev/null 2>&1
if bash "$root/scripts/slurm-local.sh" status > "$tmp/status"; then fail "status after stop says ready"; fi
grep -q "slurmctld stopped" "$tmp/status" || fail "status after stop: $(cat "$tmp/status")"
echo "ok   cluster started twice, stopped"
