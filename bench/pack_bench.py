#!/usr/bin/env python3
"""Times varel pack, and varel extract of the archives it made, with --jobs 1 and --jobs 2
side by side on a mixed tree, varel test of those archives side by side with their
extraction, and takes the peak memory of packing and extracting a larger
one, natively and under Wine (scripts/pack-bench.sh builds the programs and runs this).

Each round packs the tree (or extracts its archive into an empty folder) once per job
count, alternating which goes first; a figure is the median over the rounds and the ratio
divides the two medians (time with 1 job over time with 2). Peak memory is the largest
resident set of the varel process as Linux counts it (GNU time's %M); under Wine that is
the Windows process with Wine's own libraries, whose share the `varel info` row shows.
Prints Markdown tables."""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def run(command, folder):
    """Runs command in folder: (seconds, peak resident KiB, CPU seconds); fails loudly.
    GNU time starts it: a process started straight from Python would count Python's own
    resident set as part of its peak (the peak of the image it replaced)."""
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.perf_counter()
        done = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", report.name] + command,
                              cwd=folder, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        seconds = time.perf_counter() - start
        if done.returncode != 0:
            sys.exit(f"pack_bench: {' '.join(command)} exited with {done.returncode}")
        peak, user, system = report.read().split()[-3:]
    return seconds, int(peak), float(user) + float(system)


def make_tree(tool, folder, mebibytes):
    if not os.path.isdir(folder):
        subprocess.run([tool, folder, str(mebibytes)], check=True, stdout=subprocess.DEVNULL)
    return sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(folder) for f in fs)


def one_against_two(programs, work, tree_bytes, rounds, command, clean=None):
    """A table row per platform and format: command(prefix, fmt, jobs) run once per job
    count in each round, the order alternating; clean(jobs), when given, runs before and
    after each run."""
    print("| platform | format | 1 job, s | 2 jobs, s | ratio | 1 job, MB/s | 2 jobs, MB/s "
          "| CPU s, 1 job / 2 jobs |")
    print("|---|---|---|---|---|---|---|---|")
    for platform, prefix in programs:
        for fmt in ("psarc", "pkg"):
            times = {1: [], 2: []}
            cpu = {1: [], 2: []}
            for r in range(rounds):
                for jobs in ((1, 2) if r % 2 == 0 else (2, 1)):
                    if clean:
                        clean(jobs)
                    seconds, _, used = run(command(prefix, fmt, jobs), work)
                    if clean:
                        clean(jobs)
                    times[jobs].append(seconds)
                    cpu[jobs].append(used)
            one, two = statistics.median(times[1]), statistics.median(times[2])
            print(f"| {platform} | {fmt} | {one:.2f} | {two:.2f} | {one / two:.2f} "
                  f"| {tree_bytes / 1e6 / one:.1f} | {tree_bytes / 1e6 / two:.1f} "
                  f"| {statistics.median(cpu[1]):.1f} / {statistics.median(cpu[2]):.1f} |")


def speed(programs, work, tree, tree_bytes, rounds):
    """Each run makes a new archive: the last round's is removed first, since replacing it
    would add the file system's freeing of it to the figure."""
    print(f"\n#### varel pack, 1 job against 2, {tree_bytes / 2**20:.0f} MiB mixed tree\n")

    def archive(fmt, jobs):
        return os.path.join(work, f"speed-{jobs}.{fmt}")

    def remove_archives(jobs):
        for fmt in ("psarc", "pkg"):
            if os.path.exists(archive(fmt, jobs)):
                os.remove(archive(fmt, jobs))

    one_against_two(programs, work, tree_bytes, rounds, lambda prefix, fmt, jobs: prefix + [
        "pack", fmt, archive(fmt, jobs), "-q", "-j", str(jobs), "-C", tree, "."],
        remove_archives)


def extract_folder(work, name):
    """Where an extraction writes: a memory file system when there is one, so that a figure
    is varel's own work and not the disk's writeback of the last round's files, which on a
    shared machine scatters extraction times by half."""
    base = "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else work
    return os.path.join(base, f"varel-pack-bench-{os.getpid()}-{name}")


def extract_speed(programs, work, tree, tree_bytes, rounds):
    """Extraction of the tree's archives, each packed once beforehand by the first program
    (an archive is the same for every platform and job count), into extract_folder."""
    print(f"\n#### varel extract, 1 job against 2, {tree_bytes / 2**20:.0f} MiB mixed tree\n")
    print(f"Extracted into {os.path.dirname(extract_folder(work, 'x'))}.\n")
    archives = {}
    for fmt in ("psarc", "pkg"):
        archives[fmt] = os.path.join(work, f"extract-source.{fmt}")
        run(programs[0][1] + ["pack", fmt, archives[fmt], "--overwrite", "-q", "-C", tree, "."],
            work)
    one_against_two(
        programs, work, tree_bytes, rounds,
        lambda prefix, fmt, jobs: prefix + ["extract", archives[fmt], "-o",
                                            extract_folder(work, f"extracted-{jobs}"), "-q",
                                            "-j", str(jobs)],
        lambda jobs: shutil.rmtree(extract_folder(work, f"extracted-{jobs}"),
                                   ignore_errors=True))
    for path in archives.values():
        os.remove(path)


def test_against_extract(programs, work, tree, tree_bytes, rounds):
    """varel test of the tree's archives beside their extraction into extract_folder (the
    work an extraction cannot avoid, with output that costs next to nothing), with one job
    and with one per core, alternating which goes first; the ratio is test's median time
    over extract's, and the CPU seconds (user and system) are medians too, which other load
    on the machine disturbs less than times. Test reads every entry through the plug-in as
    extract does and decodes it a second time with the strict check, so a ratio of 1 or
    less means the check costs no more than writing the files."""
    cores = os.cpu_count() or 1
    print(f"\n#### varel test against varel extract, {tree_bytes / 2**20:.0f} MiB mixed tree\n")
    print(f"Extracted into {os.path.dirname(extract_folder(work, 'x'))}.\n")
    print("| platform | format | jobs | extract, s | test, s | test / extract | test, MB/s "
          "| CPU s, extract / test |")
    print("|---|---|---|---|---|---|---|---|")
    archives = {}
    for fmt in ("psarc", "pkg"):
        archives[fmt] = os.path.join(work, f"test-source.{fmt}")
        run(programs[0][1] + ["pack", fmt, archives[fmt], "--overwrite", "-q", "-C", tree, "."],
            work)
    folder = extract_folder(work, "test-extracted")
    for platform, prefix in programs:
        for fmt in ("psarc", "pkg"):
            for jobs in sorted({1, cores}):
                extract = prefix + ["extract", archives[fmt], "-o", folder, "-q", "-j", str(jobs)]
                test = prefix + ["test", archives[fmt], "-q", "-j", str(jobs)]
                times = {"extract": [], "test": []}
                cpu = {"extract": [], "test": []}
                for r in range(rounds):
                    for what in (("extract", "test") if r % 2 == 0 else ("test", "extract")):
                        shutil.rmtree(folder, ignore_errors=True)
                        seconds, _, used = run(extract if what == "extract" else test, work)
                        shutil.rmtree(folder, ignore_errors=True)
                        times[what].append(seconds)
                        cpu[what].append(used)
                ext, tst = statistics.median(times["extract"]), statistics.median(times["test"])
                print(f"| {platform} | {fmt} | {jobs} | {ext:.2f} | {tst:.2f} | {tst / ext:.2f} "
                      f"| {tree_bytes / 1e6 / tst:.1f} | {statistics.median(cpu['extract']):.2f}"
                      f" / {statistics.median(cpu['test']):.2f} |")
    for path in archives.values():
        os.remove(path)


def memory(programs, work, tree, tree_bytes):
    print(f"\n#### Peak memory of varel pack and extract, {tree_bytes / 2**20:.0f} MiB mixed "
          "tree\n")
    print("| platform | what | jobs | peak resident, MiB |")
    print("|---|---|---|---|")
    for platform, prefix in programs:
        _, base, _ = run(prefix + ["info"], work)
        print(f"| {platform} | varel info (the process alone) | - | {base / 1024:.1f} |")
        for fmt in ("psarc", "pkg"):
            for jobs in (1, 2):
                out = os.path.join(work, f"memory.{fmt}")
                _, peak, _ = run(prefix + ["pack", fmt, out, "--overwrite", "-q", "-j", str(jobs),
                                           "-C", tree, "."], work)
                print(f"| {platform} | pack {fmt} | {jobs} | {peak / 1024:.1f} |")
            # Extraction holds a few entries per thread (files of up to 16 MiB here).
            for jobs in (1, 2):
                folder = extract_folder(work, "memory-extracted")
                shutil.rmtree(folder, ignore_errors=True)
                _, peak, _ = run(prefix + ["extract", out, "-o", folder, "-q", "-j", str(jobs)],
                                 work)
                shutil.rmtree(folder, ignore_errors=True)
                print(f"| {platform} | extract {fmt} | {jobs} | {peak / 1024:.1f} |")
            os.remove(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tree-tool", required=True)
    parser.add_argument("--native")
    parser.add_argument("--native-label", default="linux32",
                        help="the build --native comes from, as the tables name it")
    parser.add_argument("--windows")
    parser.add_argument("--work", required=True)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--speed-mib", type=int, default=300)
    parser.add_argument("--memory-mib", type=int, default=600)
    parser.add_argument("--parts", default="pack,extract,test,memory",
                        help="which tables to make, comma-separated (default: all four)")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    work = os.path.abspath(args.work)
    programs = []
    if args.native:
        programs.append((args.native_label, [os.path.abspath(args.native)]))
    if args.windows:
        programs.append(("win32 (Wine)", ["wine", os.path.abspath(args.windows)]))
    with open("/proc/loadavg") as f:
        load = " ".join(f.read().split()[:3])
    print(f"Machine: {os.cpu_count()} cores; load average before: {load}")
    parts = set(args.parts.split(","))
    speed_tree = os.path.join(work, f"tree-{args.speed_mib}")
    if parts & {"pack", "extract", "test"}:
        speed_bytes = make_tree(args.tree_tool, speed_tree, args.speed_mib)
    if "pack" in parts:
        speed(programs, work, speed_tree, speed_bytes, args.rounds)
    if "extract" in parts:
        extract_speed(programs, work, speed_tree, speed_bytes, args.rounds)
    if "test" in parts:
        test_against_extract(programs, work, speed_tree, speed_bytes, args.rounds)
    if "memory" in parts:
        memory_tree = os.path.join(work, f"tree-{args.memory_mib}")
        memory(programs, work, memory_tree,
               make_tree(args.tree_tool, memory_tree, args.memory_mib))
    with open("/proc/loadavg") as f:
        print(f"\nLoad average after: {' '.join(f.read().split()[:3])}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
