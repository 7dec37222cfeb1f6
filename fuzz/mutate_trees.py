#!/usr/bin/env python3
"""Mutation campaign over ROOT files, run through the programs that read them.

Each mutant is a copy of a seed file with one to three changes aimed at what the tree
reader decodes: the keys-list record, the tree record (decompressed, changed, stored back
uncompressed at the end of the file), the basket key and basket headers, or any byte.
A change is a byte flip, a field bend (a plausible count, length or seek replaced by an
edge value: 0, -1, off by one, doubled, huge, the file size ...), an object reference in
the tree record nulled or pointed at another object (a leaf's count), or a basket seek
in it replaced by another basket's (with that basket's size).

Every mutant runs through `treedump F`, `treedump F TREE`, `treedump F TREE --json`,
`skim -o OUT F` and `treemerge --tree TREE OUT F`, each under a time limit and an output
size limit. A run is a finding when it hangs, crashes, reports a sanitizer error, writes
more than the output limit, or fails (exit 1) with anything but one line naming the file.
Findings are kept with the command and the first lines of its error output; the mutants
are reproducible from (seed file, --seed, mutant number).

  fuzz/mutate_trees.py --bin build-asan --mutants 500 --out /tmp/campaign FILE...

Build the programs with -DSKIM_SANITIZE=ON for the sanitizer checks to mean anything.
"""
import argparse
import os
import random
import re
import resource
import shutil
import struct
import subprocess
import sys
import time
import zlib
import lzma

TREE_CLASSES = (b"TTree", b"TNtuple", b"TNtupleD")
ROOT_DIAGNOSTIC = re.compile(r"^(Error|Warning|Info) in <[^>]*>: ")
EDGE_32 = [0, 1, -1, 2, 0x7FFFFFFF, -0x80000000, 0x40000000, 692_000_000, 255, 256, 65535]
EDGE_64 = [0, 1, -1, 0x7FFFFFFFFFFFFFFF, -0x8000000000000000, 1 << 32, 1 << 40, 692_000_000]


# ---------------------------------------------------------------- file structure

class Key:
    """A key header at `pos` in a byte string."""

    def __init__(self, data, pos):
        self.pos = pos
        (self.nbytes, self.version, self.objlen, _datime, self.keylen,
         self.cycle) = struct.unpack_from(">ihiIhh", data, pos)
        at = pos + 18
        big = self.version > 1000
        self.seek_at = at
        self.seek_size = 8 if big else 4
        self.seek = struct.unpack_from(">q" if big else ">i", data, at)[0]
        at += 2 * self.seek_size
        self.class_name, at = tstring(data, at)
        self.name, at = tstring(data, at)
        self.title, at = tstring(data, at)

    def compressed(self):
        return self.objlen > self.nbytes - self.keylen


def tstring(data, at):
    n = data[at]
    at += 1
    if n == 255:
        n = struct.unpack_from(">i", data, at)[0]
        at += 4
    return bytes(data[at:at + n]), at + n


def directory_keys(data):
    """(keys-list record position, its length, the listed keys) of the top directory."""
    begin = struct.unpack_from(">i", data, 8)[0]
    large = struct.unpack_from(">i", data, 4)[0] >= 1000000
    nbytes_name = struct.unpack_from(">i", data, 36 if large else 28)[0]
    d = begin + nbytes_name
    version = struct.unpack_from(">h", data, d)[0]
    nbytes_keys = struct.unpack_from(">i", data, d + 10)[0]
    seek_keys = struct.unpack_from(">q", data, d + 34)[0] if version > 1000 else struct.unpack_from(">i", data, d + 26)[0]
    head = Key(data, seek_keys)
    at = seek_keys + head.keylen
    n = struct.unpack_from(">i", data, at)[0]
    at += 4
    keys = []
    for _ in range(n):
        k = Key(data, at)
        keys.append(k)
        at += k.keylen
    return seek_keys, nbytes_keys, keys


def records(data):
    """Every record from fBEGIN on, walking fNbytes (freed gaps skipped)."""
    at = struct.unpack_from(">i", data, 8)[0]
    out = []
    while at + 26 < len(data):
        nbytes = struct.unpack_from(">i", data, at)[0]
        if nbytes < 0:
            at -= nbytes
            continue
        if nbytes == 0:
            break
        try:
            out.append(Key(data, at))
        except (struct.error, IndexError):
            break
        at += nbytes
    return out


def decompress(stored, objlen):
    """The object of a compressed record, or None for codecs this script cannot undo."""
    out = b""
    at = 0
    while at < len(stored) and len(out) < objlen:
        tag = stored[at:at + 2]
        c = int.from_bytes(stored[at + 3:at + 6], "little")
        block = stored[at + 9:at + 9 + c]
        if tag == b"ZL":
            out += zlib.decompress(block)
        elif tag == b"XZ":
            out += lzma.decompress(block)
        else:
            return None
        at += 9 + c
    return out if len(out) == objlen else None


# ---------------------------------------------------------------- mutations

def flip(buf, lo, hi, rng):
    for _ in range(rng.randint(1, 3)):
        i = rng.randrange(lo, hi)
        buf[i] ^= rng.choice([0x01, 0x80, 0xFF, rng.randrange(1, 256)])


def bend(buf, lo, hi, rng, file_size):
    """Replaces a value that looks like a count, length or seek with an edge value."""
    width = rng.choice([4, 4, 4, 8, 2])
    fmt = {2: ">h", 4: ">i", 8: ">q"}[width]
    candidates = []
    for i in range(lo, hi - width + 1):
        v = struct.unpack_from(fmt, buf, i)[0]
        if 0 < v <= max(file_size, 1 << 20):
            candidates.append((i, v))
    if not candidates:
        flip(buf, lo, hi, rng)
        return
    i, v = rng.choice(candidates)
    edges = {2: [0, 1, -1, 0x7FFF, -0x8000], 4: EDGE_32, 8: EDGE_64}[width]
    new = rng.choice(edges + [v - 1, v + 1, 2 * v, v // 2, file_size, file_size - v, v + rng.randrange(1, 4096),
                              rng.randrange(-(1 << (8 * width - 1)), 1 << (8 * width - 1))])
    lim = 1 << (8 * width - 1)
    new = (new + lim) % (2 * lim) - lim
    struct.pack_into(fmt, buf, i, new)


def mutate_region(buf, lo, hi, rng, file_size):
    if hi <= lo:
        return False
    if rng.random() < 0.6:
        bend(buf, lo, hi, rng, file_size)
    else:
        flip(buf, lo, hi, rng)
    return True


def flip_any(buf, lo, hi, rng, _file_size):
    flip(buf, lo, hi, rng)


def object_tags(obj, keylen):
    """Tags of the objects streamed with a byte count (position from the key start + 2)."""
    tags = set()
    for i in range(0, len(obj) - 4):
        w = struct.unpack_from(">I", obj, i)[0]
        if w & 0x40000000 and w != 0xFFFFFFFF and 6 <= (w & ~0x40000000) <= len(obj) - i - 4:
            tags.add(i + keylen + 2)
    return tags


def retarget_reference(obj, rng, keylen):
    """An object reference (a leaf's count, a tree's leaf list entry) nulled or pointed elsewhere."""
    tags = object_tags(obj, keylen)
    refs = [i for i in range(0, len(obj) - 3) if struct.unpack_from(">I", obj, i)[0] in tags]
    if not refs:
        return False
    struct.pack_into(">I", obj, rng.choice(refs), rng.choice([0, 0, rng.choice(sorted(tags))]))
    return True


def transplant_basket(obj, rng, baskets):
    """A branch's basket seek (and every copy of that basket's size) replaced by another basket's."""
    by_seek = {b.pos: b for b in baskets}
    slots = [i for i in range(0, len(obj) - 7) if struct.unpack_from(">q", obj, i)[0] in by_seek]
    if not slots or len(baskets) < 2:
        return False
    at = rng.choice(slots)
    old = by_seek[struct.unpack_from(">q", obj, at)[0]]
    new = rng.choice([b for b in baskets if b.pos != old.pos])
    struct.pack_into(">q", obj, at, new.pos)
    for i in range(0, len(obj) - 3):
        if struct.unpack_from(">i", obj, i)[0] == old.nbytes and rng.random() < 0.5:
            struct.pack_into(">i", obj, i, new.nbytes)
    return True


def mutate_tree_record(data, rng, keys):
    """The tree record's object changed and stored back uncompressed after the file's end."""
    trees = [k for k in keys if k.class_name in TREE_CLASSES]
    if not trees:
        return None
    listed = rng.choice(trees)
    key = Key(data, listed.seek)
    stored = bytes(data[key.pos + key.keylen:key.pos + key.nbytes])
    obj = decompress(stored, key.objlen) if key.compressed() else stored[:key.objlen]
    if obj is None:
        return None
    obj = bytearray(obj)
    aimed = rng.random()
    if aimed < 0.15:
        done = retarget_reference(obj, rng, key.keylen)
    elif aimed < 0.3:
        done = transplant_basket(obj, rng, [r for r in records(data) if r.class_name == b"TBasket"])
    else:
        done = False
    for _ in range(0 if done else rng.randint(1, 3)):
        op = bend if rng.random() < 0.7 else flip_any
        op(obj, 0, len(obj), rng, len(data))
    if not key.compressed():
        data[key.pos + key.keylen:key.pos + key.keylen + len(obj)] = obj
        return "tree record " + listed.name.decode(errors="replace")
    # Appended at the end: same key length (object tags count from the key start), new
    # sizes and seek, in the record and in its keys-list copy, and a header fEND past it.
    at = len(data)
    header = bytearray(data[key.pos:key.pos + key.keylen])
    struct.pack_into(">i", header, 0, key.keylen + len(obj))  # fNbytes
    struct.pack_into(">i", header, 6, len(obj))               # fObjlen
    struct.pack_into(">q" if key.seek_size == 8 else ">i", header, 18, at)
    data += header + obj
    struct.pack_into(">i", data, listed.pos, key.keylen + len(obj))
    struct.pack_into(">i", data, listed.pos + 6, len(obj))
    struct.pack_into(">q" if listed.seek_size == 8 else ">i", data, listed.seek_at, at)
    large = struct.unpack_from(">i", data, 4)[0] >= 1000000
    if large:
        struct.pack_into(">q", data, 12, len(data))
    else:
        struct.pack_into(">i", data, 12, len(data))
    return "tree record " + listed.name.decode(errors="replace") + " (stored raw)"


def make_mutant(seed_bytes, rng):
    data = bytearray(seed_bytes)
    try:
        seek_keys, nbytes_keys, keys = directory_keys(data)
    except (struct.error, IndexError):
        seek_keys, nbytes_keys, keys = 0, 0, []
    target = rng.choice(["tree", "tree", "tree", "keys", "keys", "basket", "any"])
    what = None
    if target == "tree" and keys:
        what = mutate_tree_record(data, rng, keys)
    if what is None and target in ("tree", "keys") and nbytes_keys > 0:
        for _ in range(rng.randint(1, 2)):
            mutate_region(data, seek_keys, min(len(data), seek_keys + nbytes_keys), rng, len(data))
        what = "keys list"
    if what is None and target == "basket":
        baskets = [r for r in records(data) if r.class_name == b"TBasket"]
        if baskets:
            b = rng.choice(baskets)
            mutate_region(data, b.pos, min(len(data), b.pos + b.keylen), rng, len(data))
            what = "basket header " + b.name.decode(errors="replace")
    if what is None:
        flip(data, 0, len(data), rng)
        what = "any byte"
    return bytes(data), what, [k.name.decode(errors="replace") for k in keys if k.class_name in TREE_CLASSES]


# ---------------------------------------------------------------- running

def limit_output(max_bytes):
    def apply():
        resource.setrlimit(resource.RLIMIT_FSIZE, (max_bytes, max_bytes))
    return apply


def classify(rc, stderr, timed_out, out_size, args, mutant_path, out_limit):
    text = stderr.decode(errors="replace")
    if timed_out:
        return "hang"
    if "AddressSanitizer" in text or "LeakSanitizer" in text:
        return "asan"
    if "runtime error:" in text:
        return "ubsan"
    if out_size >= out_limit or rc in (-25, 153):
        return "output-blowup"
    if rc < 0 or rc > 2:
        return "crash(rc=%d)" % rc
    if rc == 1:
        # The framework layer prints ROOT's own diagnostics ("Error in <TTree::...>: ...")
        # as ROOT does, before the program's one error line; only that line is checked.
        lines = [l for l in text.rstrip("\n").split("\n") if not ROOT_DIAGNOSTIC.match(l)]
        if len(lines) != 1:
            return "multi-line-error"
        if os.path.basename(mutant_path) not in lines[0]:
            return "error-without-file"
        if any(ord(c) < 0x20 or ord(c) == 0x7F for c in lines[0]):
            return "unprintable-error"
    return None


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("seeds", nargs="+", help="ROOT files to mutate")
    ap.add_argument("--bin", default="build-asan", help="folder holding treedump, skim, treemerge")
    ap.add_argument("--mutants", type=int, default=100, help="mutants per seed file")
    ap.add_argument("--seed", type=int, default=1, help="random seed (mutants are reproducible from it)")
    ap.add_argument("--timeout", type=float, default=20, help="seconds one run may take")
    ap.add_argument("--out", default="mutation-findings", help="folder for mutants and findings")
    ap.add_argument("--output-limit", type=int, default=64 << 20, help="bytes of standard output one run may write")
    ap.add_argument("--programs", default="listing,branches,json,skim,merge",
                    help="comma-separated subset of listing,branches,json,skim,merge")
    ap.add_argument("--keep-going", action="store_true", help="exit 0 even when something was found")
    opts = ap.parse_args()

    os.makedirs(opts.out, exist_ok=True)
    work = os.path.join(opts.out, "work")
    os.makedirs(work, exist_ok=True)
    env = dict(os.environ)
    env.setdefault("SKIM_THREADS", "1")
    env["ASAN_OPTIONS"] = "exitcode=86:detect_leaks=1:allocator_may_return_null=1"
    env["UBSAN_OPTIONS"] = "halt_on_error=1:exitcode=87:print_stacktrace=1"
    programs = set(opts.programs.split(","))
    tool = lambda name: os.path.join(opts.bin, name)

    runs = mutants = 0
    findings = {}
    started = time.time()
    for seed_path in opts.seeds:
        seed_bytes = open(seed_path, "rb").read()
        stem = os.path.basename(seed_path).removesuffix(".root")
        for m in range(opts.mutants):
            rng = random.Random("%d:%s:%d" % (opts.seed, stem, m))
            data, what, trees = make_mutant(seed_bytes, rng)
            mutants += 1
            path = os.path.join(work, "%s-m%d.root" % (stem, m))
            with open(path, "wb") as f:
                f.write(data)
            tree = trees[0] if trees else "Events"
            commands = []
            if "listing" in programs:
                commands.append([tool("treedump"), path])
            if "branches" in programs:
                commands.append([tool("treedump"), path, tree])
            if "json" in programs:
                commands.append([tool("treedump"), path, tree, "--json"])
            if "skim" in programs and tree == "Events":
                commands.append([tool("skim"), "-o", os.path.join(work, "skim-out.root"), path])
            if "merge" in programs:
                commands.append([tool("treemerge"), "--tree", tree, os.path.join(work, "merge-out.root"), path])
            for cmd in commands:
                runs += 1
                out_path = os.path.join(work, "stdout")
                with open(out_path, "wb") as out:
                    t0 = time.time()
                    p = subprocess.Popen(cmd, stdout=out, stderr=subprocess.PIPE, env=env,
                                         preexec_fn=limit_output(opts.output_limit), start_new_session=True)
                    timed_out = False
                    try:
                        _, err = p.communicate(timeout=opts.timeout)
                    except subprocess.TimeoutExpired:
                        os.killpg(p.pid, 9)
                        _, err = p.communicate()
                        timed_out = True
                    took = time.time() - t0
                kind = classify(p.returncode, err, timed_out, os.path.getsize(out_path), cmd, path, opts.output_limit)
                if kind is None:
                    continue
                first = err.decode(errors="replace").strip().split("\n")
                # One finding per kind, program and mutated part; later ones only counted.
                label = (kind, os.path.basename(cmd[0]) + (" --json" if "--json" in cmd else ""), what.split(" (")[0])
                findings.setdefault(label, []).append(path)
                if len(findings[label]) == 1:
                    keep = os.path.join(opts.out, "%s-%s-m%d.root" % (kind.split("(")[0], stem, m))
                    shutil.copy(path, keep)
                    with open(keep + ".txt", "w") as f:
                        f.write("mutated: %s\ncommand: %s\nexit: %s  seconds: %.1f\n%s\n" % (
                            what, " ".join(cmd), p.returncode, took, "\n".join(first[:40])))
                    print("FOUND %s: %s on %s (%s): %s" % (kind, os.path.basename(cmd[0]), keep, what,
                                                             first[0][:200] if first else ""), flush=True)
        print("%s: %d mutants, %d runs so far, %d kinds of finding, %.0f s" % (
            stem, mutants, runs, len(findings), time.time() - started), flush=True)

    print("campaign: %d mutants, %d runs, %d findings in %d kinds" % (
        mutants, runs, sum(len(v) for v in findings.values()), len(findings)))
    for label, paths in sorted(findings.items()):
        print("  %-18s %-16s %-30s %d (first %s)" % (label[0], label[1], label[2], len(paths), paths[0]))
    return 1 if findings and not opts.keep_going else 0


if __name__ == "__main__":
    sys.exit(main())
