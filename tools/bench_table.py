#!/usr/bin/env python3
"""Reads the figures the benchmark programs left in a folder and prints one table: each figure
with min / median / max over its repetitions, next to its reference from the same run, the
ratio and the target. With --json FILE the same figures go to FILE.

The programs' outputs (see bench/figures.h):
  *.txt   lines "@figure<TAB>name<TAB>v1 v2 ..." among whatever else a timing program prints
  *.json  Google Benchmark output; each repetition labelled with a figure's name, its value in
          the counter "value"
"""

import json
import pathlib
import statistics
import sys

# figure, reference (or None), target kind, target value, what the target says
#   ratio>=  figure / reference at least the value      ratio<=  at most
#   each>=   figure / reference at least the value in every repetition (the two paired by run)
#   <=, >=   the figure itself                          diff<=   figure - reference at most
ROWS = [
    ("dispatch lines/s", "bare splitter lines/s", "ratio>=", 0.40, "at least 40% of the splitter"),
    ("blowfish 16 B MB/s", "openssl bf-ecb 16 B MB/s", None, None, ""),
    ("blowfish 1024 B MB/s", "openssl bf-ecb 1024 B MB/s", "ratio>=", 1.0, "at least OpenSSL"),
    ("blowfish decrypt 16 B MB/s", "openssl bf-ecb decrypt 16 B MB/s", None, None, ""),
    ("blowfish decrypt 1024 B MB/s", "openssl bf-ecb decrypt 1024 B MB/s", "ratio>=", 1.0,
     "at least OpenSSL"),
    ("seal+open round trips/s", None, None, None, ""),
    ("blowfish key schedule µs", None, "<=", 30.0, "under 30 µs"),
    ("fish ecb 400 B seal+open/s", None, None, None, ""),
    ("fish cbc 400 B seal+open/s", None, None, None, ""),
    ("dh1080 key pair + shared key ms", None, "<=", 50.0, "an exchange never keeps a line waiting"),
    ("chat append line 100 µs", None, None, None, ""),
    ("chat append line 1,000 µs", "chat append line 100 µs", None, None, ""),
    ("chat append line 10,000 µs", "chat append line 100 µs", None, None, ""),
    ("chat append line 100,000 µs", "chat append line 100 µs", "ratio<=", 2.0,
     "within 2x of line 100"),
    ("presence poll 256 contacts µs", None, "<=", 50.0, "under 50 µs a poll"),
    ("transfer default MB/s", "stop-and-wait reference MB/s", None, None,
     "both sides ours, the file written; reported"),
    ("send default MB/s", "stop-and-wait reference MB/s", "each>=", 1.0,
     "at least 1.0x stop-and-wait in every run"),
    ("receive default MB/s", "stop-and-wait reference MB/s", "each>=", 1.0,
     "at least 1.0x stop-and-wait in every run"),
    ("fast send MB/s", "raw loopback copy MB/s", "ratio>=", 0.5, "at least half the raw copy"),
    ("private (TLS) fast send MB/s", None, ">=", 600.0, "at least 600 MB/s"),
    ("receive from eager sender MB/s", "raw loopback copy MB/s", "ratio>=", 0.5,
     "at least half the raw copy"),
    ("concurrent 2 fast sends MB/s", "raw loopback copy MB/s", None, None, "aggregate"),
    ("concurrent 4 fast sends MB/s", "raw loopback copy MB/s", None, None, "aggregate"),
    ("concurrent 8 fast sends MB/s", "raw loopback copy MB/s", None, None, "aggregate"),
    ("concurrent 2 slowest/mean", None, ">=", 0.5, "no transfer starves"),
    ("concurrent 4 slowest/mean", None, ">=", 0.5, "no transfer starves"),
    ("concurrent 8 slowest/mean", None, ">=", 0.5, "no transfer starves"),
    ("window timer p99 during large fast send ms", "window timer p99 idle ms", "<=", 16.0,
     "a 10 ms timer within one frame"),
    ("window timer p99 idle ms", None, None, None, ""),
    ("irssi to program MB/s", "irssi to irssi MB/s", None, None, "reported"),
    ("program to irssi default MB/s", "irssi to irssi MB/s", None, None, "reported"),
    ("program to irssi fast send MB/s", "irssi to irssi MB/s", None, None, "reported"),
    ("irssi to irssi MB/s", None, None, None, ""),
    ("stop-and-wait reference MB/s", None, None, None, ""),
    ("raw loopback copy MB/s", None, None, None, ""),
    ("transfer memory growth MB", None, None, None, "peak over all the runs, reported"),
    ("search index 1M lines s", None, "<=", 30.0, "a million log lines in 30 s"),
    ("window timer p99 while indexing ms", None, "<=", 16.0, "a 10 ms timer within one frame"),
    ("search index size / logs", None, "<=", 1.5, "at most 1.5x the logs"),
    ("search query p99 ms", "grep -F query ms", "<=", 50.0, "at most 50 ms"),
    ("grep -F query ms", None, None, None, "grep -F -r -i -c over the same logs"),
    ("open chat of 100,000 lines ms", None, "<=", 50.0, "its last lines within 50 ms"),
    ("start-up ms", "minimal Qt start-up ms", "ratio<=", 1.5, "within 1.5x of minimal Qt"),
    ("registration line ms", None, "<=", 5.0, "within 5 ms of the connection"),
    ("idle RSS MB", "minimal Qt idle RSS MB", "diff<=", 15.0, "within 15 MB of minimal Qt"),
    ("RSS after 10,000 chat lines MB", "idle RSS MB", None, None, ""),
    ("RSS after 300 chat windows MB", "idle RSS MB", None, None, ""),
    ("RSS per chat window MB", None, None, None, "reported"),
    ("RSS growth over 1 GiB transfer MB", None, "<=", 1.0, "no growth"),
    ("voice opus delay alice to bob ms", "voice harness delay ms", "<=", 150.0, "under 150 ms"),
    ("voice opus delay bob to alice ms", "voice harness delay ms", "<=", 150.0, "under 150 ms"),
    ("voice opus bitrate kbit/s", None, "<=", 32.0, "at most 32 kbit/s"),
    ("voice opus concealed frames %", None, "<=", 2.0, "under 2%"),
    ("voice plain delay alice to bob ms", "voice harness delay ms", "<=", 300.0, "under 300 ms"),
    ("voice plain delay bob to alice ms", "voice harness delay ms", "<=", 300.0, "under 300 ms"),
    ("voice plain dropped blocks %", None, "<=", 2.0, "under 2%"),
    ("voice opus +50ms delay alice to bob ms", None, None, None, "100 ms round trip"),
    ("voice opus +50ms concealed frames %", None, "<=", 2.0, "under 2% at 100 ms round trip"),
    ("voice plain +50ms delay alice to bob ms", None, None, None, "100 ms round trip"),
    ("voice plain +50ms dropped blocks %", None, None, None, "100 ms round trip"),
]


def read_figures(folder):
    figures = {}
    for path in sorted(pathlib.Path(folder).glob("*.txt")):
        for line in path.read_text(errors="replace").splitlines():
            parts = line.split("\t")
            if len(parts) == 3 and parts[0] == "@figure":
                values = [float(v) for v in parts[2].split()]
                figures.setdefault(parts[1], []).extend(values)
    for path in sorted(pathlib.Path(folder).glob("*.json")):
        try:
            data = json.loads(path.read_text())
        except json.JSONDecodeError:
            continue
        for run in data.get("benchmarks", []):
            if run.get("run_type") != "iteration" or "value" not in run or not run.get("label"):
                continue
            figures.setdefault(run["label"], []).append(float(run["value"]))
    return figures


def summary(values):
    ordered = sorted(values)
    return ordered[0], statistics.median(ordered), ordered[-1]


def verdict(kind, target, median, reference, values=(), references=()):
    if kind is None:
        return None
    if kind == "each>=":
        pairs = list(zip(values, references))
        if not pairs or any(ref <= 0 for _, ref in pairs):
            return None
        return min(value / ref for value, ref in pairs) >= target
    if kind.startswith("ratio") or kind.startswith("diff"):
        if reference is None:
            return None
        measured = median / reference if kind.startswith("ratio") else median - reference
    else:
        measured = median
    return measured >= target if kind.endswith(">=") else measured <= target


def number(value):
    if value is None:
        return "-"
    if abs(value) >= 1e6:
        return f"{value / 1e6:.2f} M"
    if abs(value) >= 100:
        return f"{value:.0f}"
    return f"{value:.3g}"


def main(argv):
    if len(argv) < 2:
        print("usage: bench_table.py FOLDER [--json FILE]", file=sys.stderr)
        return 2
    figures = read_figures(argv[1])
    json_path = argv[argv.index("--json") + 1] if "--json" in argv else None
    header = ("figure", "runs", "min", "median", "max", "reference", "ratio", "target", "met")
    rows = []
    report = []
    named = [row[0] for row in ROWS]
    extra = [(name, None, None, None, "") for name in sorted(figures) if name not in named]
    for name, reference, kind, target, words in ROWS + extra:
        values = figures.get(name)
        if not values:
            rows.append((name, "0", "-", "-", "-", "-", "-", words, "not measured"))
            continue
        low, median, high = summary(values)
        ref_median = summary(figures[reference])[1] if reference in figures else None
        ratio = median / ref_median if ref_median else None
        met = verdict(kind, target, median, ref_median, values, figures.get(reference, []))
        rows.append((name, str(len(values)), number(low), number(median), number(high),
                     f"{number(ref_median)} ({reference})" if reference else "-",
                     f"{ratio:.2f}x" if ratio is not None else "-", words,
                     "-" if met is None else ("yes" if met else "MISSED")))
        report.append({"name": name, "values": values, "min": low, "median": median,
                       "max": high, "reference": reference, "reference_median": ref_median,
                       "ratio": ratio, "target": words or None, "met": met})
    widths = [max(len(str(row[i])) for row in rows + [header]) for i in range(len(header))]
    for row in [header] + rows:
        print("  ".join(str(cell).ljust(width) for cell, width in zip(row, widths)).rstrip())
    if json_path:
        pathlib.Path(json_path).write_text(json.dumps({"figures": report}, indent=2,
                                                      ensure_ascii=False) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
