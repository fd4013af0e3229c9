#!/usr/bin/env python3
"""What each test covers that no other test does, for `tools/coverage --per-test`.

Runs every test of the named suites on its own in the coverage build, reads gcov's counters
after each, and lists the tests whose lines and branches of the program the others all cover
too, largest first, with their length in lines. A listed test adds no coverage; whether it
catches a fault the others miss is for tools/mutants to say. Runs one test at a time, its
counters written apart (GCOV_PREFIX) so that tools/coverage may run beside it.

  coverage_per_test.py ROOT BUILD [SUITE...]
"""

import collections
import glob
import json
import os
import re
import subprocess
import sys
import time

PROGRAM = re.compile(r"^(app|config|diag|irc|peer)/")
SKIPPED_LABELS = {"desktop", "audio", "e2e", "soak", "packaging"}


def listing(build):
    tests = json.loads(subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"],
                                      check=True, capture_output=True, text=True).stdout)
    suites = collections.defaultdict(list)
    for test in tests["tests"]:
        labels = set()
        for prop in test.get("properties", []):
            if prop["name"] == "LABELS":
                labels = set(prop["value"])
        if test.get("command") and not labels & SKIPPED_LABELS:
            suites[os.path.basename(test["command"][0])].append(test["name"])
    return suites


def mirror(build):
    """A tree of links to the build's notes files, where each test's counters are written
    (GCOV_PREFIX), so that a run of tools/coverage beside this one keeps its own counters."""
    top = build.rstrip("/") + "-per-test"
    for notes in glob.glob(os.path.join(build, "**", "*.gcno"), recursive=True):
        link = top + os.path.abspath(notes)
        os.makedirs(os.path.dirname(link), exist_ok=True)
        if not os.path.lexists(link):
            os.symlink(os.path.abspath(notes), link)
    return top


def covered(root, top):
    """The (file, line) pairs and (file, line, branch) triples the last run reached."""
    counters = glob.glob(os.path.join(top, "**", "*.gcda"), recursive=True)
    lines, branches = set(), set()
    # gcov writes one JSON document a line for each object given; only the files below the
    # source tree, so that the library headers are not read at all.
    for start in range(0, len(counters), 64):
        run = subprocess.run(["gcov", "--json-format", "--stdout", "--branch-probabilities",
                              "--relative-only", "--source-prefix", root]
                             + counters[start:start + 64], cwd=root, capture_output=True,
                             text=True)
        for document in run.stdout.splitlines():
            if not document.startswith("{"):
                continue
            for entry in json.loads(document)["files"]:
                name = os.path.relpath(os.path.join(root, entry["file"]), root)
                if not PROGRAM.match(name):
                    continue
                for line in entry["lines"]:
                    if line["count"] > 0:
                        lines.add((name, line["line_number"]))
                    for index, branch in enumerate(line.get("branches", [])):
                        if branch["count"] > 0:
                            branches.add((name, line["line_number"], index))
    for counter in counters:
        os.remove(counter)
    return lines, branches


def test_lengths(root):
    """Each test's length in lines, from its TEST line to the next one or the file's end."""
    lengths = {}
    header = re.compile(r"^(?:TEST|TEST_F|TEST_P|RC_GTEST_PROP|RC_GTEST_FIXTURE_PROP)\((\w+),\s*(\w+)")
    for path in glob.glob(os.path.join(root, "tests", "**", "*.cpp"), recursive=True):
        with open(path, encoding="utf-8", errors="replace") as source:
            text = source.read().splitlines()
        starts = [(i, header.match(line)) for i, line in enumerate(text) if header.match(line)]
        for n, (i, match) in enumerate(starts):
            end = starts[n + 1][0] if n + 1 < len(starts) else len(text)
            body = [line for line in text[i:end] if line.strip()]
            lengths[match.group(1) + "." + match.group(2)] = (
                len(body), os.path.relpath(path, root))
    return lengths


def source_name(test):
    """Suite.Name as written in the source, also for a parameterised test, which ctest names
    "Prefix/Suite.Name/Param  # GetParam() = ..."."""
    return re.sub(r"/[^/ ]+$", "", re.sub(r"^\w+/", "", test.split("  #")[0]))


def main():
    root, build, wanted = sys.argv[1], sys.argv[2], sys.argv[3:]
    suites = listing(build)
    names = wanted or sorted(suites)
    top = mirror(build)
    for stale in glob.glob(os.path.join(top, "**", "*.gcda"), recursive=True):
        os.remove(stale)
    environment = dict(os.environ, GCOV_PREFIX=top, GCOV_PREFIX_STRIP="0")
    reached = {}
    out = os.path.join(build, "coverage", "per-test")
    os.makedirs(out, exist_ok=True)
    for suite in names:
        start = time.time()
        for test in suites[suite]:
            run = subprocess.run(["ctest", "--test-dir", build, "--timeout", "300", "-R",
                                  "^" + re.escape(test) + "$"], capture_output=True,
                                 env=environment)
            # A test that failed reached less than it should: its figures would mislead.
            if run.returncode != 0:
                print(f"failed, left out: {test}", flush=True)
                for counter in glob.glob(os.path.join(top, "**", "*.gcda"), recursive=True):
                    os.remove(counter)
                continue
            reached[test] = covered(root, top)
        print(f"{suite}: {len(suites[suite])} tests, {time.time() - start:.0f} s", flush=True)
        with open(os.path.join(out, suite + ".json"), "w") as record:
            json.dump({t: [sorted(reached[t][0]), sorted(reached[t][1])]
                       for t in suites[suite] if t in reached}, record)

    # How often each line and branch is reached; a test whose every one is reached by another
    # test too adds nothing. Taken away one at a time, largest first, since two tests may each
    # be the other's only cover.
    lengths = test_lengths(root)
    count = collections.Counter()
    for lines, branches in reached.values():
        count.update(lines)
        count.update(branches)
    kept = dict(reached)
    order = sorted(reached, key=lambda t: -lengths.get(source_name(t), (0, ""))[0])
    spare = []
    for test in order:
        lines, branches = kept[test]
        if all(count[item] > 1 for item in lines | branches):
            count.subtract(lines | branches)
            del kept[test]
            spare.append(test)
    total = 0
    for test in spare:
        length, path = lengths.get(source_name(test), (0, "?"))
        total += length
        print(f"adds nothing: {test} ({path}, {length} lines)")
    print(f"{len(spare)} of {len(reached)} tests add no line or branch; {total} lines in all")


if __name__ == "__main__":
    main()
