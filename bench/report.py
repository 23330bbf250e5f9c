#!/usr/bin/env python3
"""Turns the benchmark programs' output into docs/performance.md and the gnuplot data.

Inputs (all optional): the JSON of varel_gbench (native, Google Benchmark), the JSON lines
of varel_bench (Windows under Wine, or native), the JSON lines of varel_bench_peak, and a
file of "key<TAB>value" facts (commands, load, dates, and native_build: the preset of the
native figures, linux32 or linux64) from scripts/bench.sh. Every ratio is the plug-in's speed over a baseline's, taken from medians of
one process on one input: baseline median time / plug-in median time.
"""
import argparse
import json
import os
import sys
from collections import defaultdict

KINDS = ["text", "words", "binary", "runs"]
# The native builds scripts/bench.sh runs, as the report names them.
NATIVE_BUILDS = {
    "linux32": "32-bit Linux",
    "linux64": "64-bit Linux, x86-64",
}
# The size of one entry record in each build: 568 bytes where pointers are 4 bytes.
RECORD_BYTES = {"win32": 568, "linux32": 568, "linux64": 576}

KIND_TITLES = {
    "text": "source text",
    "words": "English-like words",
    "binary": "executable-like binary",
    "runs": "low-entropy runs and records",
}


def size_label(n):
    n = int(n)
    if n >= 1 << 20 and n % (1 << 20) == 0:
        return f"{n >> 20} MiB"
    if n >= 1 << 10 and n % (1 << 10) == 0:
        return f"{n >> 10} KiB"
    return str(n)


def load_gbench(path):
    """{(group, data, size): {variant: median seconds}}, plus stored sizes and context."""
    with open(path) as f:
        doc = json.load(f)
    cases = defaultdict(dict)
    stored = {}
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    for b in doc.get("benchmarks", []):
        if b.get("aggregate_name") != "median":
            continue
        group, data, size, variant = b["run_name"].split("/")[:4]
        key = (group, data, int(size))
        cases[key][variant] = b["real_time"] * scale[b.get("time_unit", "ns")]
        if "stored" in b:
            stored[key] = int(b["stored"])
    return cases, stored, doc.get("context", {})


def load_lines(path):
    rows = []
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line:
                rows.append(json.loads(line))
    return rows


SPREAD_NOTE = ("Spread (harness runs only): the largest interquartile range of one variant's "
               "rounds, as a share of its median; a ratio is only as sure as that.")
NOISE = {}  # (platform, group, data, size): largest interquartile range / median, in %


def spread(samples):
    v = sorted(samples)
    if len(v) < 4:
        return None
    q1 = v[len(v) // 4]
    q3 = v[(3 * len(v)) // 4]
    med = v[len(v) // 2]
    return None if med <= 0 else 100.0 * (q3 - q1) / med


def load_harness(path, platform):
    cases = defaultdict(dict)
    stored = {}
    crcs = {}
    for r in load_lines(path):
        if r["kind"] == "data":
            crcs[r["data"]] = r["crc32"]
        elif r["kind"] == "case":
            key = (r["group"], r["data"], int(r["size"]))
            cases[key][r["variant"]] = r["median_s"]
            stored[key] = int(r.get("stored", 0))
            sp = spread(r.get("samples", []))
            if sp is not None:
                nk = (platform,) + key
                NOISE[nk] = max(NOISE.get(nk, 0.0), sp)
    return cases, stored, crcs


def ratio(cases, key, baseline, subject):
    v = cases.get(key, {})
    if baseline not in v or subject not in v or v[subject] <= 0:
        return None
    return v[baseline] / v[subject]


def mbps(cases, key, variant, nbytes):
    t = cases.get(key, {}).get(variant)
    return None if not t else nbytes / t / 1e6


def fmt(x, digits=2):
    return "-" if x is None else f"{x:.{digits}f}"


def verdict(value, bound, higher_is_better=True):
    if value is None:
        return "not measured"
    ok = value >= bound if higher_is_better else value <= bound
    return "met" if ok else "**missed**"


class Report:
    def __init__(self, facts):
        self.facts = facts
        self.lines = []
        self.targets = []  # (platform, what, figure, bound text, verdict)

    def add(self, text=""):
        self.lines.append(text)

    def command(self, key):
        cmd = self.facts.get(key)
        if cmd:
            self.add(f"Command: `{cmd}`")
            self.add()

    def target(self, platform, what, value, bound, text, higher=True, digits=2):
        self.targets.append((platform, what, fmt(value, digits), text,
                             verdict(value, bound, higher)))


def noise(platform, *keys):
    vals = [NOISE[(platform,) + k] for k in keys if (platform,) + k in NOISE]
    return "-" if not vals else f"{max(vals):.0f}%"


class Row:
    """One (data, size) row of a table: its figures from one platform's cases."""

    def __init__(self, platform, cases, stored, data, size):
        self.platform, self.cases, self.stored, self.data, self.size = (
            platform, cases, stored, data, size)

    def key(self, group):
        return (group, self.data, self.size)

    def ratio(self, group, baseline, subject):
        return ratio(self.cases, self.key(group), baseline, subject)

    def time_ratio(self, variant, baseline):
        return self.ratio("listing", variant, baseline)  # a time over a time

    def ms(self, variant):
        t = self.cases.get(self.key("listing"), {}).get(variant)
        return fmt(t and t * 1e3, 1)


# Columns: (header, cell of a row).
DATA = ("data", lambda r: r.data)
ENTRY = ("entry", lambda r: size_label(r.size))


def mb_col(header, group, variant):
    return (header, lambda r: fmt(mbps(r.cases, r.key(group), variant, r.size), 0))


def ratio_col(header, group, baseline, subject="getfile"):
    return (header, lambda r: fmt(r.ratio(group, baseline, subject)))


def packed_col(*groups):
    def cell(r):
        n = next((r.stored[r.key(g)] for g in groups if r.stored.get(r.key(g))), 0)
        return "-" if not n else f"{r.size / n:.1f}:1"
    return ("packed", cell)


def spread_col(*groups):
    return ("spread", lambda r: noise(r.platform, *(r.key(g) for g in groups)))


# Targets: (name, group, baseline, subject, bound, higher is better, applies to a row). The
# figure is baseline / subject; a bound pair holds the bound for "runs" and for the others;
# the name takes {data}, {size} (a size label) and {entries}.
def target(name, group, baseline, subject, bound, higher=True, applies=lambda r: True):
    return (name, group, baseline, subject, bound, higher, applies)


# Every table of one platform, in order.
TABLES = [
    dict(title="PSARC `TZK_GetFile`", groups=["psarc_extract"], spread_note=True,
         text="(a) bare `uncompress` of the same blocks into a resident buffer; (b) the floor: "
              "`GlobalAlloc` of the entry's size, `uncompress` straight into it, `GlobalFree`, "
              "which is what a reader built on stock zlib costs at best; (c) the limit: "
              "libdeflate's whole-stream decoder alone into a resident buffer, its "
              "decompressor made once; (d) the same into a fresh `GlobalAlloc` block of the "
              "entry's size, so that the plug-in against (d) is the cost of the call itself. "
              "Ratios: plug-in speed over baseline speed.",
         columns=[DATA, ENTRY, packed_col("psarc_extract"),
                  mb_col("plug-in MB/s", "psarc_extract", "getfile"),
                  mb_col("(a) MB/s", "psarc_extract", "uncompress"),
                  mb_col("(b) MB/s", "psarc_extract", "floor"),
                  mb_col("(c) MB/s", "psarc_extract", "libdeflate"),
                  ratio_col("vs (a)", "psarc_extract", "uncompress"),
                  ratio_col("vs (b)", "psarc_extract", "floor"),
                  ratio_col("vs (c)", "psarc_extract", "libdeflate"),
                  ratio_col("vs (d)", "psarc_extract", "libdeflate+block"),
                  spread_col("psarc_extract")],
         targets=[target("PSARC {data} {size} vs the zlib floor (b)", "psarc_extract", "floor",
                         "getfile", 1.8, applies=lambda r: r.size < 16 << 20),
                  target("PSARC {data} {size} vs the zlib floor (b)", "psarc_extract", "floor",
                         "getfile", 1.5, applies=lambda r: r.size >= 16 << 20),
                  target("PSARC {data} 64 KiB vs libdeflate alone (c)", "psarc_extract",
                         "libdeflate", "getfile", 0.9, applies=lambda r: r.size == 64 << 10)]),
    dict(title="Stored PSARC entries", groups=["psarc_stored"], spread_note=True,
         text="Baseline: `GlobalAlloc` of the entry's size, `memcpy` of the stored bytes into "
              "it, `GlobalFree` (blocks written at zlib level 0, so the writer stores every "
              "block).",
         columns=[DATA, ENTRY, mb_col("plug-in MB/s", "psarc_stored", "getfile"),
                  mb_col("memcpy MB/s", "psarc_stored", "memcpy"),
                  ratio_col("ratio", "psarc_stored", "memcpy"), spread_col("psarc_stored")],
         targets=[target("stored {size} vs memcpy into a fresh block", "psarc_stored", "memcpy",
                         "getfile", 0.8)]),
    dict(title="PKG `TZK_GetFile` and the decoder alone", groups=["pkg_extract", "pkg_decoder"],
         text="Whole call: `TZK_GetFile` (block of L + 256 bytes included) against the "
              "byte-at-a-time reference decoder writing into a fresh `GlobalAlloc` block of the "
              "same size. Decoder alone: the plug-in's decoder against the reference, both into "
              "one resident buffer.",
         columns=[DATA, ENTRY, packed_col("pkg_extract", "pkg_decoder"),
                  mb_col("call MB/s", "pkg_extract", "getfile"),
                  mb_col("reference+block MB/s", "pkg_extract", "reference"),
                  ratio_col("call ratio", "pkg_extract", "reference"),
                  mb_col("decoder MB/s", "pkg_decoder", "fast"),
                  mb_col("reference MB/s", "pkg_decoder", "reference"),
                  ratio_col("decoder ratio", "pkg_decoder", "reference", "fast"),
                  spread_col("pkg_extract", "pkg_decoder")],
         targets=[target("PKG call {data} {size} vs reference", "pkg_extract", "reference",
                         "getfile", (1.5, 1.0)),
                  target("PKG decoder {data} {size} vs reference", "pkg_decoder", "reference",
                         "fast", (2.4, 1.1))]),
    dict(title="Listing", groups=["listing"],
         text="Floor: the table region read with one positioning and one read into a fresh "
              "heap buffer, plus a zero-filled record block of the same size (n x {record} "
              "bytes) locked, touched once per record and freed. For PSARC also the manifest's "
              "stored bytes read with one read and inflated. Ratios here are times: listing "
              "over floor (at most 1.3 is the target).",
         columns=[("format", lambda r: r.data), ("entries", lambda r: str(r.size)),
                  ("listing ms", lambda r: r.ms("listing")),
                  ("floor ms", lambda r: r.ms("floor")),
                  ("floor + manifest ms", lambda r: r.ms("floor+manifest")),
                  ("listing / floor", lambda r: fmt(r.time_ratio("listing", "floor"))),
                  ("listing / (floor + manifest)",
                   lambda r: fmt(r.time_ratio("listing", "floor+manifest")))],
         targets=[target("PKG listing of {entries} entries / floor (time)", "listing", "listing",
                         "floor", 1.3, higher=False, applies=lambda r: r.data == "pkg"),
                  target("PSARC listing of {entries} entries / (floor + manifest) (time)",
                         "listing", "listing", "floor+manifest", 1.3, higher=False,
                         applies=lambda r: r.data == "psarc")]),
]


def row_order(key):
    data, size = key
    return (KINDS.index(data) if data in KINDS else len(KINDS), data, size)


def extraction_tables(rep, platform, cases, stored, cmd_key, build):
    for table in TABLES:
        keys = sorted({(k[1], k[2]) for k in cases if k[0] in table["groups"]}, key=row_order)
        if not keys:
            continue
        rep.add(f"#### {table['title']} ({platform})")
        rep.add()
        rep.command(cmd_key)
        rep.add(table["text"].format(record=RECORD_BYTES.get(build, 568)))
        rep.add()
        if table.get("spread_note"):
            rep.add(SPREAD_NOTE)
            rep.add()
        rep.add("| " + " | ".join(h for h, _ in table["columns"]) + " |")
        rep.add("|" + "---|" * len(table["columns"]))
        for data, size in keys:
            r = Row(platform, cases, stored, data, size)
            rep.add("| " + " | ".join(cell(r) for _, cell in table["columns"]) + " |")
            for name, group, baseline, subject, bound, higher, applies in table["targets"]:
                if not applies(r):
                    continue
                if isinstance(bound, tuple):
                    bound = bound[0] if data == "runs" else bound[1]
                what = name.format(data=data, size=size_label(size), entries=size)
                rep.target(platform, what, r.ratio(group, baseline, subject), bound,
                           f"{'>=' if higher else '<='} {bound:.2f}", higher=higher)
        rep.add()


def peak_table(rep, rows, native):
    rep.add(f"#### Peak memory of one extraction ({native})")
    rep.add()
    rep.command("cmd_peak")
    rep.add("Every heap byte of the process is counted (the program defines `malloc` and its "
            "relatives over glibc's own): the plug-in's heap, its global blocks and zlib's "
            "inflate state. Peak: the highest level during one `TZK_GetFile` above the level "
            "before it. Beyond: the peak less the block handed to the host as the heap holds it.")
    rep.add()
    rep.add("| case | entry bytes | block bytes | peak bytes | beyond the block, KiB |")
    rep.add("|---|---|---|---|---|")
    for r in rows:
        beyond = (r["peak"] - r["held"]) / 1024.0
        rep.add(f"| {r['case']} | {r['size']} | {r['block']} | {r['peak']} | {beyond:.1f} |")
        rep.target(native, f"peak beyond the block, {r['case']}", beyond, 128.0,
                   "<= 128 KiB", higher=False, digits=1)
    rep.add()


PLOT_SERIES = [
    ("psarc_extract", "getfile", "PSARC TZK\\_GetFile", "lc rgb '#1f77b4' lw 2 pt 7"),
    ("psarc_extract", "uncompress", "(a) bare uncompress, resident", "lc rgb '#1f77b4' dt 2 pt 4"),
    ("psarc_extract", "floor", "(b) GlobalAlloc + uncompress", "lc rgb '#17becf' dt 3 pt 6"),
    ("psarc_extract", "libdeflate", "(c) libdeflate alone, resident", "lc rgb '#9467bd' dt 4 pt 8"),
    ("pkg_extract", "getfile", "PKG TZK\\_GetFile", "lc rgb '#d62728' lw 2 pt 7"),
    ("pkg_extract", "reference", "PKG reference + fresh block", "lc rgb '#d62728' dt 2 pt 4"),
    ("psarc_stored", "getfile", "stored PSARC TZK\\_GetFile", "lc rgb '#2ca02c' lw 2 pt 7"),
    ("psarc_stored", "memcpy", "memcpy into a fresh block", "lc rgb '#2ca02c' dt 2 pt 4"),
]


def plot_data(path, cases):
    """One data block per non-empty (kind, series); returns {kind: [(index, title, style)]}."""
    panels = {kind: [] for kind in KINDS}
    index = 0
    with open(path, "w") as f:
        for kind in KINDS:
            for group, variant, title, style in PLOT_SERIES:
                points = []
                for key in sorted(k for k in cases if k[0] == group and k[1] == kind):
                    v = mbps(cases, key, variant, key[2])
                    if v is not None:
                        points.append((key[2], v))
                if not points:
                    continue
                f.write(f"# {kind} {group} {variant}\n")
                for size, v in points:
                    f.write(f"{size} {v:.3f}\n")
                f.write("\n\n")
                panels[kind].append((index, title, style))
                index += 1
    return panels


def write_gnuplot(path, data_path, png_path, panels, platform):
    with open(path, "w") as f:
        f.write("set terminal pngcairo size 1400,1000 font ',10'\n")
        f.write(f"set output '{png_path}'\n")
        f.write(f"set multiplot layout 2,2 title 'MB/s against entry size ({platform}); "
                "medians, baselines run in the same process on the same data'\n")
        f.write("set logscale x 2\nset logscale y 10\nset grid\n")
        f.write("set xtics ('64 KiB' 65536, '1 MiB' 1048576, '16 MiB' 16777216)\n")
        f.write("set xrange [40000:28000000]\nset key outside bottom center horizontal "
                "maxrows 3 font ',8'\n")
        f.write("set ylabel 'MB/s'\n")
        for kind in KINDS:
            f.write(f"set title '{KIND_TITLES[kind]}'\n")
            if not panels[kind]:
                # A run filtered to other cases: gnuplot refuses a plot with no defined
                # point unless its range is given.
                f.write("unset key\nset label 1 'not measured' at graph 0.5, graph 0.5 center\n"
                        "set yrange [1:10]\nplot 1/0 notitle\n"
                        "unset label 1\nset autoscale y\nset key\n")
                continue
            parts = [f"'{data_path}' index {i} using 1:2 with linespoints {style} title '{title}'"
                     for i, title, style in panels[kind]]
            f.write("plot " + ", \\\n     ".join(parts) + "\n")
        f.write("unset multiplot\n")


def read_facts(path):
    facts = {}
    if path and os.path.exists(path):
        with open(path) as f:
            for line in f:
                if "\t" in line:
                    k, v = line.rstrip("\n").split("\t", 1)
                    facts[k] = v
    return facts


def write_head(rep, facts, wine, native, png_name):
    rep.add("# Performance")
    rep.add()
    sources = []
    if wine:
        sources.append("the Windows figures (win32) from `varel_bench.exe` of the win32 preset "
                       "(i686, 32-bit) under Wine, interleaved rounds")
    sources.append(f"the native ones ({native}) from Google Benchmark (`varel_gbench`, randomly "
                   f"interleaved repetitions) and `varel_bench_peak` of the {native} preset "
                   f"({NATIVE_BUILDS.get(native, native)})")
    rep.add("Written by `scripts/bench.sh`; every figure below comes from the command shown "
            "above its table. Each case runs the plug-in's path and its baselines in one "
            "process on the same bytes; a figure is the median of several runs and a ratio "
            "divides two such medians (plug-in speed over baseline speed, unless a table says "
            "it divides times). Builds: " + "; ".join(sources) + ".")
    rep.add()
    rep.add(f"- Date: {facts.get('date', '?')}; commit {facts.get('commit', '?')}")
    rep.add(f"- Machine: {facts.get('machine', '?')}")
    rep.add(f"- Load average before / after: {facts.get('load_before', '?')} / "
            f"{facts.get('load_after', '?')}. The machine's 2 cores are shared with other "
            "work; ratios taken in one process are robust to some of that, single MB/s "
            "figures less so.")
    if wine:
        rep.add("- Data (CRC-32 of the 16 MiB of each kind, the same on both platforms): " +
                ", ".join(f"{k} {v}" for k, v in wine[2].items()))
    rep.add()
    rep.add("Data kinds, generated in code (`bench/bench_data.cpp`): **text**, program source; "
            "**words**, English-like prose; **binary**, an executable-like image; **runs**, "
            "low-entropy runs and fixed-size records. Entries of 64 KiB, 1 MiB and 16 MiB are "
            "prefixes of the same 16 MiB. PSARC blocks are deflated at level 9 by the "
            "project's writer, PKG entries LZ-coded by the project's writer.")
    rep.add()
    rep.add(f"![MB/s against entry size]({png_name})")
    rep.add()


def write_targets(rep, notes):
    rep.add("## Targets")
    rep.add()
    rep.add("| platform | target | measured | bound | verdict |")
    rep.add("|---|---|---|---|---|")
    for platform, what, figure, bound, v in rep.targets:
        rep.add(f"| {platform} | {what} | {figure} | {bound} | {v} |")
    rep.add()
    missed = sum(1 for t in rep.targets if t[4] != "met")
    rep.add(f"{len(rep.targets) - missed} of {len(rep.targets)} met.")
    rep.add()
    if notes and os.path.exists(notes):
        with open(notes) as f:
            rep.add(f.read().rstrip())
        rep.add()


# Sections of the report that other measurements write (varel's packing and extracting
# figures) stand below this line; a new report keeps them as they are.
KEEP_MARKER = ("<!-- scripts/bench.sh writes everything above this line and keeps everything "
               "below it. -->")


def kept_sections(path):
    if not os.path.exists(path):
        return ""
    with open(path) as f:
        text = f.read()
    at = text.find(KEEP_MARKER)
    return "" if at < 0 else text[at + len(KEEP_MARKER):].lstrip("\n")


def main():
    ap = argparse.ArgumentParser()
    for name in ["--gbench", "--wine", "--native-harness", "--peak", "--facts", "--plot-data",
                 "--plot-script"]:
        ap.add_argument(name)
    ap.add_argument("--out", required=True)
    ap.add_argument("--png-name", default="performance.png")
    args = ap.parse_args()
    given = lambda path: path and os.path.exists(path)  # noqa: E731
    facts = read_facts(args.facts)
    native = facts.get("native_build", "linux32")
    rep = Report(facts)
    wine = load_harness(args.wine, "win32") if given(args.wine) else None
    gb = load_gbench(args.gbench) if given(args.gbench) else None
    native_h = (load_harness(args.native_harness, f"{native}-harness")
                if given(args.native_harness) else None)
    peak = load_lines(args.peak) if given(args.peak) else None

    write_head(rep, facts, wine, native, args.png_name)
    # The tables first, so that their targets are known; the targets go before them.
    body_start = len(rep.lines)
    native_title = NATIVE_BUILDS.get(native, native)
    for title, platform, build, loaded, cmd in [
            ("Windows (Wine)", "win32", "win32", wine, "cmd_wine"),
            (f"Native ({native_title}, Google Benchmark)", native, native, gb, "cmd_gbench"),
            (f"Native ({native_title}, the stand-alone harness)", f"{native}-harness", native,
             native_h, "cmd_native")]:
        if loaded:
            rep.add(f"## {title}")
            rep.add()
            extraction_tables(rep, platform, loaded[0], loaded[1], cmd, build)
    if peak:
        rep.add("## Memory")
        rep.add()
        peak_table(rep, peak, native)
    body = rep.lines[body_start:]
    rep.lines = rep.lines[:body_start]
    write_targets(rep, facts.get("notes_file"))
    rep.lines.extend(body)
    kept = kept_sections(args.out)
    with open(args.out, "w") as f:
        f.write("\n".join(rep.lines).rstrip() + "\n")
        if kept:
            f.write("\n" + KEEP_MARKER + "\n\n" + kept)

    plot_cases = wine[0] if wine else (gb[0] if gb else None)
    if plot_cases and args.plot_data and args.plot_script:
        panels = plot_data(args.plot_data, plot_cases)
        write_gnuplot(args.plot_script, args.plot_data,
                      os.path.join(os.path.dirname(args.out), args.png_name), panels,
                      "Windows build under Wine" if wine else f"native {native} build")
    return 0


if __name__ == "__main__":
    sys.exit(main())
