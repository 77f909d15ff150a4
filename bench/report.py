#!/usr/bin/env python3
"""The benchmark's figures from its raw measurements: a table on the console, the same as CSV,
and the goals with their ratios.

usage: report.py RAW.tsv OUT.csv [--line-mb M] [--markdown OUT.md]
"""
import argparse
import csv
import statistics

NAMES = {
    "pagehop": "pagehop",
    "floor": "plain copy (floor)",
    "perl": "perl, one process",
    "python": "python3, one process",
    "sed": "sed per page, shell loop",
    "wine": "pagehop.exe under wine",
}
SETS = {
    "site": "site: 2,000 pages of 50 KB",
    "big": "one page of 256 MB",
    "line": "one line of 64 MB",
}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("raw")
    ap.add_argument("out")
    ap.add_argument("--line-mb", type=int, default=64)
    ap.add_argument("--markdown", help="also write the table in Markdown, as the README shows it")
    args = ap.parse_args()

    times, rss, empty_rss = {}, {}, None
    with open(args.raw) as f:
        for row in csv.DictReader(f, delimiter="\t"):
            if row["data"] == "reference":
                empty_rss = int(row["rss_kb"])
                continue
            key = (row["data"], row["contender"])
            times.setdefault(key, []).append(float(row["seconds"]))
            rss[key] = max(rss.get(key, 0), int(row["rss_kb"]))

    rows = []
    for data in SETS:
        base = statistics.median(times[(data, "pagehop")]) if (data, "pagehop") in times else None
        for who in NAMES:
            if (data, who) not in times:
                continue
            median = statistics.median(times[(data, who)])
            rows.append({
                "data": data,
                "contender": who,
                "runs": len(times[(data, who)]),
                "median_s": f"{median:.3f}",
                "ratio_to_pagehop": f"{median / base:.2f}" if base else "",
                "peak_rss_kb": rss[(data, who)],
            })
    if empty_rss is not None:
        rows.append({"data": "reference", "contender": "empty C program", "runs": 1,
                     "median_s": "", "ratio_to_pagehop": "", "peak_rss_kb": empty_rss})

    with open(args.out, "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=list(rows[0]))
        w.writeheader()
        w.writerows(rows)

    print()
    print(f"{'data':<28} {'contender':<26} {'median s':>9} {'÷ pagehop':>10} {'peak RSS':>11}")
    for r in rows:
        data = SETS.get(r["data"], r["data"])
        who = NAMES.get(r["contender"], r["contender"])
        rss_mb = f"{r['peak_rss_kb'] / 1024:.1f} MiB"
        print(f"{data:<28} {who:<26} {r['median_s']:>9} {r['ratio_to_pagehop']:>10} {rss_mb:>11}")

    if args.markdown:
        with open(args.markdown, "w") as f:
            f.write("| data | contender | median s | ÷ pagehop | peak RSS |\n")
            f.write("|---|---|---:|---:|---:|\n")
            for r in rows:
                data = SETS.get(r["data"], r["data"])
                who = NAMES.get(r["contender"], r["contender"])
                f.write(f"| {data} | {who} | {r['median_s']} | {r['ratio_to_pagehop']} | "
                        f"{r['peak_rss_kb'] / 1024:.1f} MiB |\n")

    def med(data, who):
        return statistics.median(times[(data, who)])

    print()
    print("goals (pagehop's figure ÷ the other's):")
    line_kb = args.line_mb * 1024
    checks = []  # (goal, pagehop's figure, limit, whether the limit itself misses)
    for data in ("site", "big"):
        if (data, "pagehop") not in times:
            continue
        checks.append((f"{data}: pagehop/perl < 1.0", med(data, "pagehop") / med(data, "perl"), 1.0, True))
        checks.append((f"{data}: pagehop/floor <= 2.0", med(data, "pagehop") / med(data, "floor"), 2.0, False))
        checks.append((f"{data}: peak RSS <= 2 MiB", rss[(data, "pagehop")] / 1024, 2.0, False))
    if ("line", "pagehop") in times:
        checks.append(("line: peak RSS / line size <= 6", rss[("line", "pagehop")] / line_kb, 6.0, False))
        checks.append(("line: pagehop/floor <= 3.0", med("line", "pagehop") / med("line", "floor"), 3.0, False))
    for name, value, limit, strict in checks:
        held = value < limit if strict else value <= limit
        unit = " MiB" if "MiB" in name else ""
        print(f"  {name:<34} {value:>8.2f}{unit:<4}  {'holds' if held else 'MISSED'}")
    if empty_rss is not None:
        print(f"  (an empty C program's peak RSS: {empty_rss / 1024:.1f} MiB)")


if __name__ == "__main__":
    main()
