#!/usr/bin/env python3
"""The benchmark's figures from its raw measurements: a table on the console, the same as CSV,
and the goals with pagehop's ratios to the fastest of perl, sed, awk and node on each data set
and to the plain copy, for both mixes of text, with the counts (bench/counts) beside them.

usage: report.py RAW.tsv OUT.csv [--line-mb M] [--markdown OUT.md] [--counts COUNTS.tsv]
"""
import argparse
import csv
import statistics

NAMES = {
    "pagehop": "pagehop",
    "floor": "plain copy (floor)",
    "perl": "perl, one process",
    "python": "python3, one process",
    "awk": "awk (mawk), one process",
    "node": "node, one process",
    "sed": "sed per page, shell loop",
    "wine": "pagehop.exe under wine",
}
SETS = {
    "site": "site: 2,000 pages of 50 KB",
    "big": "one page of 256 MB",
    "line": "one line of 64 MB",
}
MIXES = {"plain": "plain", "rich": "rich"}
# The goals per data set: pagehop over the fastest peer, pagehop over the plain copy, and the
# peak RSS (MiB, or for the line a multiple of its size).
GOALS = {"site": (0.8, 1.6, 2.0), "big": (0.8, 3.0, 2.0), "line": (0.8, 2.0, 2.0)}
PEERS = ("perl", "sed", "awk", "node")


def data_sets():
    return [f"{mix}/{name}" for mix in MIXES for name in SETS]


def label(data):
    if data == "reference":
        return data
    mix, name = data.split("/")
    return f"{SETS[name]}, {MIXES[mix]} text"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("raw")
    ap.add_argument("out")
    ap.add_argument("--line-mb", type=int, default=64)
    ap.add_argument("--markdown", help="also write the tables in Markdown, as the README shows them")
    ap.add_argument("--counts", help="bench/counts' counts.tsv, shown beside the times")
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

    def med(data, who):
        return statistics.median(times[(data, who)])

    rows = []
    for data in data_sets():
        base = med(data, "pagehop") if (data, "pagehop") in times else None
        for who in NAMES:
            if (data, who) not in times:
                continue
            rows.append({
                "data": data,
                "contender": who,
                "runs": len(times[(data, who)]),
                "median_s": f"{med(data, who):.3f}",
                "ratio_to_pagehop": f"{med(data, who) / base:.2f}" if base else "",
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
    print(f"{'data':<42} {'contender':<26} {'median s':>9} {'÷ pagehop':>10} {'peak RSS':>11}")
    for r in rows:
        who = NAMES.get(r["contender"], r["contender"])
        rss_mb = f"{r['peak_rss_kb'] / 1024:.1f} MiB"
        print(f"{label(r['data']):<42} {who:<26} {r['median_s']:>9} {r['ratio_to_pagehop']:>10} "
              f"{rss_mb:>11}")

    # The goals: pagehop's time over the fastest peer's on that data set and over the plain
    # copy's, and its peak RSS.
    goals = []
    line_mib = args.line_mb
    for data in data_sets():
        if any((data, who) not in times for who in ("pagehop", "floor")):
            continue
        name = data.split("/")[1]
        peer_goal, copy_goal, rss_goal = GOALS[name]
        peer = min((who for who in PEERS if (data, who) in times),
                   key=lambda who: med(data, who))
        to_peer = med(data, "pagehop") / med(data, peer)
        to_copy = med(data, "pagehop") / med(data, "floor")
        peak = rss[(data, "pagehop")] / 1024
        if name == "line":
            rss_text, rss_held = f"{peak / line_mib:.2f} × the line", peak / line_mib <= rss_goal
            rss_goal_text = f"≤ {rss_goal} × the line"
        else:
            rss_text, rss_held = f"{peak:.1f} MiB", peak <= rss_goal
            rss_goal_text = f"≤ {rss_goal:.0f} MiB"
        goals.append((label(data), f"{to_peer:.2f} ({peer})", peer_goal, to_copy, copy_goal,
                      rss_text, rss_goal_text, to_peer <= peer_goal, to_copy <= copy_goal,
                      rss_held))

    def mark(held):
        return "holds" if held else "MISSED"

    print()
    print("goals (pagehop's time ÷ the other's; its peak RSS):")
    for g in goals:
        print(f"  {g[0]:<42} peer {g[1]:<11} (≤ {g[2]}) {mark(g[7]):<6}  "
              f"copy {g[3]:5.2f} (≤ {g[4]}) {mark(g[8]):<6}  RSS {g[5]} ({g[6]}) {mark(g[9])}")
    if empty_rss is not None:
        print(f"  (an empty C program's peak RSS: {empty_rss / 1024:.1f} MiB)")

    counts = []
    if args.counts:
        with open(args.counts) as f:
            counts = list(csv.DictReader(f, delimiter="\t"))
        print()
        print("counts (bench/counts):")
        for c in counts:
            print(f"  {c['count']:<44} {c['data']:<12} {c['value']}")

    if args.markdown:
        with open(args.markdown, "w") as f:
            f.write("| data | contender | median s | ÷ pagehop | peak RSS |\n")
            f.write("|---|---|---:|---:|---:|\n")
            for r in rows:
                who = NAMES.get(r["contender"], r["contender"])
                f.write(f"| {label(r['data'])} | {who} | {r['median_s']} | "
                        f"{r['ratio_to_pagehop']} | {r['peak_rss_kb'] / 1024:.1f} MiB |\n")
            f.write("\n| data | pagehop ÷ the fastest peer | goal | pagehop ÷ plain copy | goal | "
                    "pagehop's peak RSS | goal |\n")
            f.write("|---|---:|---:|---:|---:|---:|---:|\n")
            for g in goals:
                f.write(f"| {g[0]} | {g[1]} | ≤ {g[2]} | {g[3]:.2f} | ≤ {g[4]} | {g[5]} | "
                        f"{g[6]} |\n")
            if counts:
                f.write("\n| count | data | value |\n|---|---|---:|\n")
                for c in counts:
                    f.write(f"| {c['count']} | {c['data']} | {c['value']} |\n")


if __name__ == "__main__":
    main()
