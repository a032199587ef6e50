#!/usr/bin/env python3
"""What scripts/bench-terminal adds to the shared terminal harness (bench_term.py,
which it imports from the folder --harness names):

  termextra.py latency --harness DIR --probe KEYLATENCY [--reps 5] [--keys 40]
                       [--terms urxvt,xterm] [--extra NAME=TEMPLATE ...] --json FILE --log FILE
      Key-to-screen latency: each terminal runs a command that echoes what is
      typed ("stty -icanon; cat"); the probe types keys into its window and
      times each to its echo painted. Repetitions interleaved, as the
      harness does. Rows of kind "latency" go to FILE.

  termextra.py tables --throughput FILE [--latency FILE] --ours qor --ref urxvt --bare bare
      Markdown tables: each terminal's in-terminal throughput as a ratio to
      the bare pty reader, ours next to the reference terminal with the goal
      (ours >= ref, or >= 0.95 of the bare reader where the reference runs at
      the pseudo terminal's speed), and the key latency of every terminal.
"""
import argparse, json, os, signal, statistics, subprocess, sys, time

ECHO = ["sh", "-c", "stty -icanon; exec cat >/dev/null"]


def harness(folder):
    sys.path.insert(0, folder)
    import bench_term  # the shared harness: its terminals' command lines and environment
    return bench_term


def latency(a):
    bt = harness(a.harness)
    terms = {t: bt.TEMPLATES[t] for t in a.terms.split(",") if t}
    for e in a.extra:
        name, tmpl = e.split("=", 1)
        terms[name] = tmpl
    log = open(a.log, "ab")
    rows = []
    for rep in range(a.reps):
        for t in bt.rotated(list(terms), rep):
            title = f"latency-{t}-{rep}-{os.getpid()}"
            p = subprocess.Popen(bt.argv_for(terms[t], 80, 24, 1000, title, ECHO), env=bt.ENV,
                                 stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
            try:
                out = subprocess.run([a.probe, title, str(a.keys)], env=bt.ENV, capture_output=True, text=True,
                                     timeout=120).stdout
            except subprocess.TimeoutExpired:
                out = ""
            finally:
                try:
                    os.killpg(p.pid, signal.SIGTERM)
                    p.wait(timeout=10)
                except (ProcessLookupError, subprocess.TimeoutExpired):
                    os.killpg(p.pid, signal.SIGKILL)
                    p.wait()
            lines = out.split("\n")
            samples = [float(l) for l in lines if l and l[0].isdigit()]
            summary = [l for l in lines if l.startswith("median")]
            missed = int(summary[0].split()[-1]) if summary else a.keys
            row = dict(kind="latency", term=t, rep=rep, samples=samples, missed=missed)
            rows.append(row)
            print(json.dumps(dict(row, samples=len(samples))), flush=True)
            time.sleep(0.3)
    with open(a.json, "a") as f:
        for r in rows:
            f.write(json.dumps(r) + "\n")


def tables(a):
    out = []
    rows = [json.loads(l) for l in open(a.throughput) if l.strip()] if a.throughput else []
    inner = [r for r in rows if r["kind"] == "inner" and r.get("inner_s")]
    terms = []
    for r in inner:
        if r["term"] not in terms:
            terms.append(r["term"])
    order = [t for t in (a.ours, a.ref) if t in terms] + [t for t in terms if t not in (a.ours, a.ref, a.bare)]
    for size in sorted({r["size"] for r in inner}, key=lambda s: int(s.split("x")[0])):
        out.append(f"\n#### In-terminal throughput, {size}: MB/s (median of runs) and its ratio to the bare pty"
                   f" reader ({a.bare}, which reads the pty and answers DA1); goal: {a.ours} >= {a.ref}, or"
                   f" >= 0.95x {a.bare} where {a.ref} is at the pty's speed\n")
        out.append(f"| workload | {a.bare} MB/s | " + " | ".join(order) + f" | {a.ours} / {a.ref} | goal |")
        out.append("|---" * (len(order) + 4) + "|")
        for wl in [w for w in dict.fromkeys(r["workload"] for r in inner if r["size"] == size) if w != "empty"]:
            def mb(t):
                xs = [r["bytes"] / 1e6 / r["inner_s"] for r in inner
                      if r["size"] == size and r["workload"] == wl and r["term"] == t]
                return statistics.median(xs) if xs else None
            bare = mb(a.bare)
            cells = []
            for t in order:
                m = mb(t)
                cells.append("n/a" if m is None else f"{m:.1f} [{m / bare:.2f}x]" if bare else f"{m:.1f}")
            ours, ref = mb(a.ours), mb(a.ref)
            goal = "n/a"
            if ours and ref:
                ratio = ours / ref
                if ratio >= 1.0:
                    goal = f"met ({ratio:.2f})"
                elif bare and ref >= 0.95 * bare and ours >= 0.95 * bare:
                    goal = f"met at the pty's speed ({ours / bare:.2f}x bare)"
                else:
                    goal = f"missed ({ratio:.2f})"
            out.append(f"| {wl} | " + (f"{bare:.1f}" if bare else "n/a") + " | " + " | ".join(cells) +
                       f" | " + (f"{ours / ref:.2f}" if ours and ref else "n/a") + f" | {goal} |")
    if a.latency and os.path.exists(a.latency):
        lat = [json.loads(l) for l in open(a.latency) if l.strip()]
        lat = [r for r in lat if r["kind"] == "latency"]
        out.append("\n#### Key to screen: a key typed (XTEST) to its echo painted (DAMAGE), ms, all repetitions\n")
        out.append("| terminal | median | p90 | keys | missed |")
        out.append("|---|---|---|---|---|")
        names = list(dict.fromkeys(r["term"] for r in lat))
        for t in names:
            xs = sorted(x for r in lat if r["term"] == t for x in r["samples"])
            missed = sum(r["missed"] for r in lat if r["term"] == t)
            if xs:
                p90 = xs[min(len(xs) - 1, int(0.9 * (len(xs) - 1) + 0.5))]
                out.append(f"| {t} | {statistics.median(xs):.2f} | {p90:.2f} | {len(xs)} | {missed} |")
            else:
                out.append(f"| {t} | n/a | n/a | 0 | {missed} |")
    sys.stdout.write("\n".join(out) + "\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("mode", choices=["latency", "tables"])
    ap.add_argument("--harness")
    ap.add_argument("--probe")
    ap.add_argument("--reps", type=int, default=5)
    ap.add_argument("--keys", type=int, default=40)
    ap.add_argument("--terms", default="urxvt,xterm")
    ap.add_argument("--extra", action="append", default=[])
    ap.add_argument("--json")
    ap.add_argument("--log", default="/dev/null")
    ap.add_argument("--throughput")
    ap.add_argument("--latency")
    ap.add_argument("--ours", default="qor")
    ap.add_argument("--ref", default="urxvt")
    ap.add_argument("--bare", default="bare")
    a = ap.parse_args()
    latency(a) if a.mode == "latency" else tables(a)


if __name__ == "__main__":
    main()
