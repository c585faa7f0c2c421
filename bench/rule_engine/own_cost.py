#!/usr/bin/env python3
"""The rule engine's own cost per rule, apart from the simulated firewall's.

Runs bench_rule_engine once natively (CPU time and firewall calls per rule) and then each
benchmark once under callgrind, counting instructions only inside measuredPass. Those are split
by who runs them:

  firewall  every call from outside into sim::firewall, with all it calls (on Windows: the
            firewall's own objects and service);
  com       the simulated BSTR and VARIANT runtime called by the engine (on Windows: oleaut32);
  doubles   the test doubles of the settings provider and the alert sender;
  engine    the rest: the rule engine itself, with the C and C++ libraries it calls.

Instruction counts are repeatable on a loaded machine, where times are not. The engine's own
CPU time per rule is the measured CPU time per rule times the share of the instructions that
are not the firewall's ("own": engine, com and doubles together, the stricter reading).

usage: own_cost.py BENCH_BINARY [BENCHMARK_REGEX]
"""
import collections
import json
import os
import re
import subprocess
import sys
import tempfile

MEASURED = "measuredPass"
FIREWALL = re.compile(r"^(?:(?:non-)?virtual thunk to )?sim::firewall::")
COM = re.compile(r"^(?:Sys\w+|Var\w+|Variant\w+|CoCreateInstance)\(")
DOUBLES = re.compile(r"^(?:(?:non-)?virtual thunk to )?tarn::test::(?:FakeProvider|CountingAlerts)::")


def parse_callgrind(path):
    """Call arcs (caller, callee) -> inclusive instructions, calls per callee, and the total."""
    names = {}
    arcs = collections.Counter()
    calls = collections.Counter()
    total = 0
    caller = callee = None
    pending = None

    def name_of(token):
        match = re.match(r"\((\d+)\)(?: (.*))?$", token)
        if not match:
            return token
        if match.group(2) is not None:
            names[match.group(1)] = match.group(2)
        return names[match.group(1)]

    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("fn="):
                caller = name_of(line[3:])
            elif line.startswith("cfn="):
                callee = name_of(line[4:])
            elif line.startswith("calls="):
                pending = int(line[6:].split()[0])
            elif line.startswith("totals:") or line.startswith("summary:"):
                total = max(total, int(line.split()[1]))
            elif pending is not None and line and (line[0].isdigit() or line[0] in "+-*"):
                fields = line.split()
                arcs[(caller, callee)] += int(fields[1]) if len(fields) > 1 else 0
                calls[callee] += pending
                pending = None
    return arcs, calls, total


def split(arcs, total):
    """Instructions by part: firewall, com, doubles, engine."""
    def into(part, callers_outside):
        return sum(cost for (a, b), cost in arcs.items() if part.match(b) and callers_outside(a))

    firewall = into(FIREWALL, lambda a: not FIREWALL.match(a))
    parts = {"firewall": firewall}
    for label, part in (("com", COM), ("doubles", DOUBLES)):
        reached = into(part, lambda a, p=part: not FIREWALL.match(a) and not p.match(a))
        # What these call of the firewall (releasing a rule held in a VARIANT) is the firewall's.
        inner = sum(c for (a, b), c in arcs.items() if part.match(a) and FIREWALL.match(b))
        parts[label] = reached - inner
    parts["engine"] = total - sum(parts.values())
    return parts


def native(bench, pattern):
    out = subprocess.run([bench, "--benchmark_filter=" + pattern, "--benchmark_format=json"],
                         check=True, capture_output=True, text=True).stdout
    return {b["name"]: b for b in json.loads(out)["benchmarks"]}


def under_callgrind(bench, name, rules, folder):
    out = os.path.join(folder, "callgrind." + re.sub(r"\W", "_", name))
    subprocess.run(["valgrind", "--tool=callgrind", "--collect-atstart=no",
                    "--toggle-collect=*" + MEASURED + "*", "--callgrind-out-file=" + out, bench,
                    "--benchmark_filter=^" + re.escape(name) + "$",
                    "--benchmark_min_time=0.000001"],
                   check=True, capture_output=True, text=True)
    arcs, calls, total = parse_callgrind(out)
    passes = sum(n for callee, n in calls.items() if MEASURED in callee)
    if passes == 0:
        sys.exit(f"{name}: no call of {MEASURED} counted")
    per_rule = passes * rules
    return {k: v / per_rule for k, v in split(arcs, total).items()}, total / per_rule


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    bench = sys.argv[1]
    pattern = sys.argv[2] if len(sys.argv) > 2 else "."
    results = native(bench, pattern)
    print(f"{'benchmark':34} {'Ir/rule':>8} {'firewall':>9} {'engine':>8} {'com':>7} "
          f"{'doubles':>8} {'own%':>5} {'cpu_us':>7} {'own_us':>7} {'calls':>6} {'writes':>6}")
    with tempfile.TemporaryDirectory() as folder:
        for name, result in results.items():
            rules = int(re.search(r"/(\d+)", name).group(1))
            parts, total = under_callgrind(bench, name, rules, folder)
            own = 1 - parts["firewall"] / total
            cpu = result["cpu_us_per_rule"]
            print(f"{name:34} {total:8.0f} {parts['firewall']:9.0f} {parts['engine']:8.0f} "
                  f"{parts['com']:7.0f} {parts['doubles']:8.0f} {own * 100:5.1f} {cpu:7.2f} "
                  f"{cpu * own:7.2f} {result['calls_per_rule']:6.2f} {result['writes']:6.0f}")


if __name__ == "__main__":
    main()
