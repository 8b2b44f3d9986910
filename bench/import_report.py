#!/usr/bin/env python3
"""Turns the key=value results of bench/import.sh into the Markdown report."""
import json
import sys


def load(path):
    r = {}
    for line in open(path, encoding="utf-8"):
        if "=" in line:
            k, v = line.rstrip("\n").split("=", 1)
            r[k] = v
    return r


def num(r, k):
    try:
        return float(r[k])
    except (KeyError, ValueError):
        return None


def grouped(x):
    return "–" if x is None else f"{x:,.0f}"


def secs(x):
    return "–" if x is None else (f"{x:.1f} s" if x >= 10 else f"{x:.2f} s")


def mib(kb):
    return "–" if kb is None else f"{kb / 1024:.0f} MiB"


def rate(lines, wall):
    return None if not lines or not wall else lines / wall


def fetch_rows(r, key):
    try:
        cases = json.loads(r[key])["cases"]
    except (KeyError, ValueError):
        return {}
    return {c["name"]: c["fetch"] for c in cases}


def main():
    r = load(sys.argv[1])
    lines = num(r, "lines")
    pg_lines = num(r, "pg_lines")
    out = []
    w = out.append
    w(f"# Import and scale, {r.get('date', '')}\n")
    w(f"Command: `{r.get('command', '')}`\n")
    w("## Machine and setup\n")
    w(f"- CPU: {r.get('cpu', '?')}, RAM {r.get('ram', '?')}; a VM shared with other work: "
      "the load average (1, 5, 15 minutes) is given at each stage")
    w(f"- SQLite {r.get('sqlite_version', '?')} (library and `sqlite3` shell); "
      f"PostgreSQL {r.get('pg.version', '?')}, throwaway cluster on loopback "
      f"({r.get('pg.settings', '?')})")
    if "csv_bytes" in r:
        w(f"- Import file: {grouped(lines)} demo lines (bench/sales_csv, seed 20241, "
          f"2020-01 to 2026-11, in date order), {num(r, 'csv_bytes') / 1e6:,.0f} MB; the "
          "nightly file is the last two months of the same lines")
    w("- Times are wall clock of the whole process (`/usr/bin/time`), peak memory its "
      "maximum resident set; lines/s = lines / wall time\n")

    if "sqlite.import.wall" in r:
        w(f"## SQLite, {grouped(lines)} lines\n")
        w(f"Load before: {r.get('sqlite.load_before')}, after the import: "
          f"{r.get('sqlite.load_after_import')}, at the end: {r.get('sqlite.load_end')}.\n")
        p1, p2 = num(r, "sqlite.plain1.wall"), num(r, "sqlite.plain2.wall")
        imp = num(r, "sqlite.import.wall")
        plain = (p1 + p2) / 2
        cpu = lambda k: num(r, k + ".user") + num(r, k + ".sys")
        plain_cpu = (cpu("sqlite.plain1") + cpu("sqlite.plain2")) / 2
        w("| run | wall | lines/s | CPU (user+sys) | peak memory |")
        w("|---|---|---|---|---|")
        for k, name in (("sqlite.plain1", "`sqlite3` `.import` into a plain table (before)"),
                        ("sqlite.import", "**`tallvero-db import-sales`**, with the rebuild of all 83 touched periods"),
                        ("sqlite.plain2", "`sqlite3` `.import` into a plain table (after)")):
            w(f"| {name} | {secs(num(r, k + '.wall'))} | {grouped(rate(lines, num(r, k + '.wall')))} | "
              f"{secs(cpu(k))} | {mib(num(r, k + '.rss_kb'))} |")
        w("")
        w(f"Speed of `import-sales` against `.import` (mean of both runs): **{plain / imp:.2f}×** "
          f"by wall time, {plain_cpu / cpu('sqlite.import'):.2f}× by CPU time "
          "(target ≥ 0.5×).\n")
        n = num(r, "sqlite.nightly_lines")
        w("| step | wall | lines/s | peak memory |")
        w("|---|---|---|---|")
        w(f"| nightly import, last two months ({grouped(n)} lines, `--replace-periods`, "
          f"{grouped(num(r, 'sqlite.nightly_replaced'))} older lines replaced, their periods rebuilt) | "
          f"{secs(num(r, 'sqlite.nightly.wall'))} | "
          f"{grouped(rate(n, num(r, 'sqlite.nightly.wall')))} | {mib(num(r, 'sqlite.nightly.rss_kb'))} |")
        tl = num(r, "sqlite.total_lines")
        w(f"| full rebuild (`generate 12001 12611`, both companies) | "
          f"{secs(num(r, 'sqlite.rebuild_all.wall'))} | {grouped(rate(tl, num(r, 'sqlite.rebuild_all.wall')))} | "
          f"{mib(num(r, 'sqlite.rebuild_all.rss_kb'))} |")
        ml = num(r, "sqlite.month_lines")
        w(f"| rebuild of one month (12611, both companies, {grouped(ml)} lines, median of 5, as `generate` reports it) | "
          f"{secs(num(r, 'sqlite.rebuild_month.wall'))} | {grouped(rate(ml, num(r, 'sqlite.rebuild_month.wall')))} | |")
        w(f"| `tallvero-report --pdf`, one page (median of 5, whole process: login, 72 months, page) | "
          f"{secs(num(r, 'sqlite.report_pdf.wall'))} | | |")
        w(f"| database size | {num(r, 'sqlite.db_bytes') / 2**20:,.0f} MiB "
          f"({num(r, 'sqlite.db_bytes') / tl:.0f} bytes a line) | | |\n")
        w("F5, a whole fetch of 72 months as the client runs it (ms):\n")
        w("| fetch | p50 | p99 |")
        w("|---|---|---|")
        for name, f in fetch_rows(r, "sqlite.fetch").items():
            w(f"| {name} | {f.get('p50', 0):.2f} | {f.get('p99', 0):.2f} |")
        w("")

    if "pg.import.wall" in r:
        w(f"## PostgreSQL, {grouped(pg_lines)} lines\n")
        w(f"Load before: {r.get('pg.load_before')}, at the end: {r.get('pg.load_end')}. "
          "Server CPU: the CPU seconds of the cluster's backends during the step.\n")
        w("| step | wall | lines/s | server CPU | lines per server CPU second | peak memory of tallvero-db |")
        w("|---|---|---|---|---|---|")
        tl = num(r, "pg.total_lines")
        ml = num(r, "pg.month_lines")
        n = num(r, "pg.nightly_lines")
        for k, name, cnt in (
                ("pg.import", "import through `COPY ... FROM STDIN` (`--no-generate`)", pg_lines),
                ("pg.first_build", "first build of the sums (`generate`, empty sum tables)", pg_lines),
                ("pg.rebuild_all", "full rebuild over built sums (`generate 12001 12611`)", tl),
                ("pg.nightly", f"nightly import, last two months ({grouped(n)} lines, `--replace-periods`, rebuilt)", n)):
            wall = num(r, k + ".wall")
            cpu = num(r, k + ".server_cpu")
            w(f"| {name} | {secs(wall)} | {grouped(rate(cnt, wall))} | {secs(cpu)} | "
              f"{grouped(rate(cnt, cpu))} | {mib(num(r, k + '.rss_kb'))} |")
        w(f"| `VACUUM ANALYZE` after the first build | {secs(num(r, 'pg.vacuum.wall'))} | | | | |")
        w(f"| rebuild of one month (12611, both companies, {grouped(ml)} lines, median of 5, as `generate` reports it) | "
          f"{secs(num(r, 'pg.rebuild_month.wall'))} | {grouped(rate(ml, num(r, 'pg.rebuild_month.wall')))} | | | |")
        w(f"| `tallvero-report --pdf`, one page (median of 5) | {secs(num(r, 'pg.report_pdf.wall'))} | | | | |")
        w(f"| database size | {num(r, 'pg.db_bytes') / 2**20:,.0f} MiB | | | | |\n")
        w("F5, a whole fetch of 72 months as the client runs it (ms):\n")
        w("| fetch | p50 | p99 |")
        w("|---|---|---|")
        for name, f in fetch_rows(r, "pg.fetch").items():
            w(f"| {name} | {f.get('p50', 0):.2f} | {f.get('p99', 0):.2f} |")
        w("")
    print("\n".join(out))


if __name__ == "__main__":
    main()
