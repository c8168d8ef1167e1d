#!/usr/bin/env python3
"""Markdown tables of a venue-night run (the JSON reports of quorvod-load).

    tools/load/night-tables.py OUT_DIR
"""
import json
import os
import sys

OPS = ["start", "singers", "singer-songs", "number", "path", "type", "language", "letters", "room"]


def load(out, backend, name):
    path = os.path.join(out, f"{backend}-{name}.json")
    if not os.path.exists(path):
        return None
    with open(path) as f:
        return json.load(f)


def mb(kb):
    return f"{kb / 1024:.0f} MB"


def ops_table(out, name, with_alone):
    rows = ["| operation | SQLite p50 | p99 | " + ("alone | ratio | " if with_alone else "") +
            "MariaDB p50 | p99 | " + ("alone | ratio |" if with_alone else ""),
            "|---" * (1 + (4 if with_alone else 2) * 2) + "|"]
    reports = [load(out, b, name) for b in ("sqlite", "mariadb")]
    for op in OPS:
        cells = [op]
        seen = False
        for r in reports:
            o = (r or {}).get("operations", {}).get(op)
            if not o:
                cells += ["-"] * (4 if with_alone else 2)
                continue
            seen = True
            cells += [f"{o['p50']:.1f}", f"{o['p99']:.1f}"]
            if with_alone:
                alone = o.get("aloneP99", 0)
                cells += [f"{alone:.1f}", f"{o['p99'] / alone:.2f}" if alone > 0 else "-"]
        if seen:
            rows.append("| " + " | ".join(cells) + " |")
    return "\n".join(rows)


def summary(out, names):
    rows = ["| run | backend | operations | errors | ops/s | server own memory (max) | "
            "resident (max) | threads (max) | CPU a op | room requests pressed / stored |",
            "|---|---|---|---|---|---|---|---|---|---|"]
    for name in names:
        for b in ("sqlite", "mariadb"):
            r = load(out, b, name)
            if not r:
                continue
            count = sum(o["count"] for o in r["operations"].values())
            rr = r.get("roomRequests", {})
            cpu = r.get("serverCpuMsPerOperation")
            rows.append(
                f"| {name} | {b} | {count} | {r['errors']} | {r['throughput']:.0f} | "
                f"{mb(r.get('serverMaxAnonKb', 0))} | {mb(r.get('serverMaxRssKb', 0))} | "
                f"{r.get('serverMaxThreads', 0)} | "
                f"{(f'{cpu:.2f} ms' if cpu is not None else '-')} | "
                f"{rr.get('pressed', 0)} / {rr.get('stored', 0)} |")
    return "\n".join(rows)


def main():
    out = sys.argv[1]
    print("## 200 terminals\n")
    print(ops_table(out, "terminals200", True))
    print("\n## 1,000 terminals\n")
    print(ops_table(out, "terminals1000", False))
    for flood in ("idle", "half-header", "trickle", "big-header"):
        print(f"\n## flood {flood}\n")
        print(ops_table(out, f"flood-{flood}", True))
    print("\n## costly\n")
    print(ops_table(out, "costly", True))
    print("\n## storm\n")
    print(ops_table(out, "storm", False))
    print("\n## summary\n")
    print(summary(out, ["terminals200", "terminals1000", "flood-idle", "flood-half-header",
                        "flood-trickle", "flood-big-header", "costly", "costly1000", "storm",
                        "once-killed", "once-stalled"]))
    for b in ("sqlite", "mariadb"):
        for name in ("flood-idle", "flood-half-header", "flood-trickle", "flood-big-header",
                     "costly", "costly1000"):
            r = load(out, b, name)
            if r and "flood" in r:
                f = r["flood"]
                print(f"\n{b} {name}: opened {f['opened']}, closed by the server {f['closed']}, "
                      f"answered {f['answered']}, failed {f['failed']}")


if __name__ == "__main__":
    main()
