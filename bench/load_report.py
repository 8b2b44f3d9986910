#!/usr/bin/env python3
"""Evaluates a bench/load.sh work dir: timings per client count and the
value tables of every run under load against the single-run reference."""
import argparse
import json
import math
import os
import platform
import subprocess
import sys
from datetime import datetime

TABLES = ("PeriodValues", "MonthYearValues", "CumulativeValues", "GraphValues")


def nearest_rank(values, p):
    # Nearest-rank, as the other benchmark reports use.
    s = sorted(values)
    return s[max(0, math.ceil(p / 100 * len(s)) - 1)]


def tables(path):
    try:
        with open(path, encoding="utf-8") as f:
            doc = json.load(f)
        return {k: doc[k] for k in TABLES}, doc.get("fetch", {}).get("result")
    except (OSError, ValueError, KeyError):
        return None, None


def read_cpu(path, tick):
    """Two snapshots (busy, total, clients, server jiffies) -> seconds:
    machine busy, machine elapsed per core, clients, server."""
    try:
        with open(path) as f:
            a, b = ([int(x) for x in line.split()] for line in f if line.strip())
    except (OSError, ValueError):
        return None
    n = os.cpu_count() or 1
    return ((b[0] - a[0]) / tick, (b[1] - a[1]) / tick / n, (b[2] - a[2]) / tick, (b[3] - a[3]) / tick)


def cmd(args):
    try:
        return subprocess.run(args, capture_output=True, text=True, timeout=30).stdout.strip()
    except (OSError, subprocess.SubprocessError):
        return ""


def machine():
    cpu = "?"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    mem = "?"
    try:
        with open("/proc/meminfo") as f:
            kb = int(f.readline().split()[1])
            mem = f"{kb / 1024 / 1024:.1f} GiB"
    except (OSError, ValueError, IndexError):
        pass
    osname = platform.system()
    try:
        with open("/etc/os-release") as f:
            for line in f:
                if line.startswith("PRETTY_NAME="):
                    osname = line.split("=", 1)[1].strip().strip('"')
    except OSError:
        pass
    return f"CPU: {cpu}, nproc {os.cpu_count()}, RAM {mem}; OS: {osname}, kernel {platform.release()}"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--work", required=True)
    ap.add_argument("--clients", required=True)
    ap.add_argument("--rounds", type=int, required=True)
    ap.add_argument("--lines", type=int, required=True)
    ap.add_argument("--command", default="bench/load.sh")
    ap.add_argument("--pg", default="")
    ap.add_argument("--demo-start", type=float, default=0)
    ap.add_argument("--demo-end", type=float, default=0)
    ap.add_argument("--report-bin", default="")
    a = ap.parse_args()

    with open(os.path.join(a.work, "selections.txt"), encoding="utf-8") as f:
        selections = f.read().split("\n")[:-1]

    refs = {}
    ref_ms = {}
    with open(os.path.join(a.work, "ref", "times.txt")) as f:
        for line in f:
            i, _, rc, t0, t1 = line.split()
            ref_ms[int(i)] = (float(t1) - float(t0)) * 1000
    for i in range(len(selections)):
        t, _ = tables(os.path.join(a.work, "ref", f"sel-{i}.json"))
        if t is None:
            print(f"reference of selection {i} unreadable", file=sys.stderr)
            return 1
        refs[i] = t

    with open(os.path.join(a.work, "clock.txt")) as f:
        tick, *loadavg = f.read().split()
        tick = int(tick)
    idle = read_cpu(os.path.join(a.work, "idle.txt"), tick)

    rows = []
    bad = 0
    problems = []
    for c in [int(x) for x in a.clients.split()]:
        d = os.path.join(a.work, f"c{c}")
        with open(os.path.join(d, "batch.txt")) as f:
            b0, b1 = (float(x) for x in f.read().split())
        runs = []
        for p in range(c):
            path = os.path.join(d, f"times-{p}.txt")
            if os.path.exists(path):
                with open(path) as f:
                    runs += [line.split() for line in f if line.strip()]
        times = [(float(r[5]) - float(r[4])) * 1000 for r in runs]
        failed = sum(1 for r in runs if r[3] != "0")
        missing = c * a.rounds - len(runs)
        mismatch = 0
        for p, sel, r, rc, _, _ in runs:
            t, result = tables(os.path.join(d, f"p{p}-r{r}.json"))
            if t != refs[int(sel)] or result != "done":
                mismatch += 1
                if len(problems) < 20:
                    problems.append(f"clients {c}, process {p}, run {r} (selection {sel}, exit {rc}, "
                                    f"fetch {result}): tables differ from the reference")
        mismatch += missing
        bad += mismatch + failed
        wall = b1 - b0
        cpu = read_cpu(os.path.join(d, "cpu.txt"), tick)
        rows.append((c, len(runs), len(runs) / wall if wall > 0 else 0, wall,
                     nearest_rank(times, 50) if times else float("nan"),
                     nearest_rank(times, 99) if times else float("nan"),
                     max(times) if times else float("nan"), failed, mismatch, cpu))

    pgver = cmd(["psql", "-h", a.pg.rsplit(":", 1)[0], "-p", a.pg.rsplit(":", 1)[-1], "-d", "zorvek",
                 "-tAc", "select version()"]) if a.pg else ""
    pgset = cmd(["psql", "-h", a.pg.rsplit(":", 1)[0], "-p", a.pg.rsplit(":", 1)[-1], "-d", "zorvek",
                 "-tAc", "select string_agg(name || ' ' || setting || coalesce(unit, ''), ', ' order by name) "
                 "from pg_settings where name in ('max_connections','shared_buffers','fsync','jit')"]) if a.pg else ""
    qt = cmd(["qtpaths6", "--qt-version"]) or cmd(["qmake6", "-query", "QT_VERSION"])

    out = []
    w = out.append
    w(f"# Load benchmark: concurrent report clients on PostgreSQL, {datetime.now():%Y-%m-%d %H:%M}")
    w("")
    w(f"Command: `{a.command}`")
    w("")
    w("## Machine and setup")
    w("")
    w(f"- {machine()}" + (f"; Qt {qt}" if qt else "") + "; Release build")
    w(f"- {pgver or 'PostgreSQL ?'}; throwaway cluster on loopback ({a.pg}), {pgset}")
    w(f"- Data: `tallvero-db demo --lines {a.lines} --until 2024-03` "
      f"({a.lines:,} sales lines, filled in {a.demo_end - a.demo_start:.1f} s)")
    w(f"- Each fetch is one `tallvero-report` process: login as DEMO, 63 monthly requests "
      f"(January 2019 to March 2024 for `--today 2024-03-20`), the names of the selection, the page "
      f"drawing and the JSON. Client process i runs selection i modulo {len(selections)} of the list "
      f"below, {a.rounds} times in a row; all clients of a batch start at once.")
    w("- fetches/s = fetches of the batch / wall time of the batch (first start to last end); "
      "p50/p99 = nearest-rank percentiles of the wall time of single runs (process start to exit).")
    w("- Equal: the four value tables (`PeriodValues`, `MonthYearValues`, `CumulativeValues`, "
      "`GraphValues`) of every JSON written under load compared with Python's `json` for exact "
      "equality with the single run of the same selection on an idle server, and `fetch.result` "
      "`done`.")
    w("")
    w("## Results")
    w("")
    w("| clients | fetches | fetches/s | p50 ms | p99 ms | results equal to the single-client result |")
    w("|---:|---:|---:|---:|---:|---|")
    for c, n, fps, wall, p50, p99, mx, failed, mism, cpu in rows:
        eq = "yes, all" if mism == 0 else f"**no: {mism} mismatch(es)**"
        w(f"| {c} | {n} | {fps:.2f} | {p50:.0f} | {p99:.0f} | {eq} ({n - mism}/{n}) |")
    w("")
    w("### Where the time goes")
    w("")
    w("CPU seconds from `/proc`: clients = the `tallvero-report` processes (with the `date` calls "
      "of the timing), server = the PostgreSQL backends (the postmaster's reaped children), "
      "other = the rest of the machine's busy time (other programs on the host, kernel threads).")
    w("")
    w("| clients | batch wall s | max ms | failed runs | client CPU ms/fetch | server CPU ms/fetch | "
      "machine busy | of it other programs |")
    w("|---:|---:|---:|---:|---:|---:|---:|---:|")
    for c, n, fps, wall, p50, p99, mx, failed, mism, cpu in rows:
        if cpu and n:
            busy, el, cl, sv = cpu
            other = max(0.0, busy - cl - sv)
            ccols = (f"{cl / n * 1000:.0f} | {sv / n * 1000:.0f} | "
                     f"{busy / el:.2f} of {os.cpu_count()} cores | {other / el:.2f} cores")
        else:
            ccols = "– | – | – | –"
        w(f"| {c} | {wall:.1f} | {mx:.0f} | {failed} | {ccols} |")
    w("")
    if idle:
        w(f"Before the batches (3 s, no client running) the machine was busy {idle[0] / idle[1]:.2f} "
          f"of {os.cpu_count()} cores; load average {' '.join(loadavg)}.")
        w("")
    w("## Selections and their single run (reference, idle server)")
    w("")
    w("| # | options | single run ms |")
    w("|---:|---|---:|")
    for i, s in enumerate(selections):
        w(f"| {i} | `{s}` | {ref_ms.get(i, float('nan')):.0f} |" if s else
          f"| {i} | (no restriction) | {ref_ms.get(i, float('nan')):.0f} |")
    w("")
    w("All runs also pass `--server 127.0.0.1 --port PORT --firma 1 --filiale 0 --user DEMO "
      "--today 2024-03-20 --json FILE`, password through `TALLVERO_PASSWORD`.")
    if problems:
        w("")
        w("## Problems")
        w("")
        for p in problems:
            w(f"- {p}")
    print("\n".join(out))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
