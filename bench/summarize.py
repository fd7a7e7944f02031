#!/usr/bin/env python3
"""Turns the raw measurements of bench/run into the report.

usage: summarize.py DIR PROGRAM OWN_FUNCTIONS

DIR holds round-*.json (hyperfine exports; every round times every command),
rss-NAME.txt (/usr/bin/time -v outputs, one or more per command, separated by
lines of "----"), callgrind-NAME.out (one run under callgrind) and
failures.txt (the runs that failed, one a line, their rounds timed again). PROGRAM is
the varnicle executable; OWN_FUNCTIONS lists, one a line, the functions
compiled from the program's sources (the executable also holds the parts of
the C++ runtime linked into it). Prints the report as Markdown and exits with
0 when every target is met, 3 when not.
"""
import glob
import json
import os
import re
import statistics
import sys

FLOOR_LIMIT = 1.10
RSS_LIMIT_KB = 4096
KINDS = ("check", "keycheck")
TOOLS = ("varnicle", "floor", "opensc-tool", "scriptor")
# varnicle with its verdict records off; "varnicle" has them on.
RECORDS_OFF = "varnicle-off"


def load_rounds(directory):
    """The hyperfine results of every round, in order: a list of dicts from
    command name to its result (wall times of each run, mean CPU times)."""
    paths = glob.glob(os.path.join(directory, "round-*.json"))
    paths.sort(key=lambda p: int(re.search(r"round-(\d+)\.json$", p).group(1)))
    rounds = []
    for path in paths:
        with open(path) as f:
            rounds.append({r["command"]: r for r in json.load(f)["results"]})
    return rounds


def peak_rss_kb(directory, name):
    path = os.path.join(directory, "rss-%s.txt" % name)
    with open(path) as f:
        values = [int(v) for v in re.findall(r"Maximum resident set size \(kbytes\): (\d+)", f.read())]
    if not values:
        sys.exit("summarize: no resident set size in %s" % path)
    return max(values)


def callgrind_costs(path):
    """Instructions per object file and function: the self cost of every
    function (call lines carry inclusive costs and are skipped)."""
    names = {}
    costs = {}
    current_object = None
    current_function = None
    skip_next = False
    compressed = re.compile(r"\((\d+)\)(?: (.*))?")

    def expand(kind, value):
        match = compressed.fullmatch(value)
        if not match:
            return value
        key = (kind, match.group(1))
        if match.group(2) is not None:
            names[key] = match.group(2)
        return names[key]

    with open(path) as f:
        for line in f:
            line = line.rstrip("\n")
            if not line:
                continue
            key, _, value = line.partition("=")
            if key in ("ob", "cob"):
                value = expand("ob", value)
                if key == "ob":
                    current_object = value
            elif key in ("fn", "cfn"):
                value = expand("fn", value)
                if key == "fn":
                    current_function = value
            elif key == "calls":
                skip_next = True
            elif line[0].isdigit() or line[0] in "+-*":
                if skip_next:
                    skip_next = False
                    continue
                fields = line.split()
                if len(fields) >= 2:
                    where = (current_object, current_function)
                    costs[where] = costs.get(where, 0) + int(fields[1])
    return costs


def main():
    directory, program = sys.argv[1], os.path.realpath(sys.argv[2])
    with open(sys.argv[3]) as f:
        own_functions = set(line.rstrip("\n") for line in f)
    rounds = load_rounds(directory)
    times = {}
    cpu = {}
    median = {}
    for kind in KINDS:
        for tool in TOOLS + (RECORDS_OFF,):
            name = "%s %s" % (tool, kind)
            if any(name not in r for r in rounds) or not rounds:
                sys.exit("summarize: no times for %s in every round" % name)
            times[name] = [t for r in rounds for t in r[name]["times"]]
            cpu[name] = statistics.mean(r[name]["user"] + r[name]["system"] for r in rounds) * 1000.0
            median[name] = statistics.median(times[name]) * 1000.0

    out = []
    met = True
    runs = min(len(v) for v in times.values())
    out.append("### Time (median of %d runs each, in %d alternating rounds)\n" % (runs, len(rounds)))
    out.append("| command | varnicle | floor | opensc-tool | scriptor | varnicle / floor | varnicle / opensc-tool | varnicle / scriptor |")
    out.append("|---|---|---|---|---|---|---|---|")
    for kind in KINDS:
        v = median["varnicle " + kind]
        cells = ["%.2f ms" % median["%s %s" % (tool, kind)] for tool in TOOLS]
        ratios = [v / median["%s %s" % (tool, kind)] for tool in TOOLS[1:]]
        out.append("| -%s | %s | %s |" % (kind, " | ".join(cells), " | ".join("%.3f" % r for r in ratios)))
        met &= ratios[0] <= FLOOR_LIMIT and ratios[1] < 1.0 and ratios[2] < 1.0

    out.append("\nSpread of the times, and the CPU time of the process itself (user + system, mean), in ms:\n")
    out.append("| command | minimum | lower quartile | median | upper quartile | CPU |")
    out.append("|---|---|---|---|---|---|")
    for kind in KINDS:
        for tool in TOOLS:
            name = "%s %s" % (tool, kind)
            q = statistics.quantiles(times[name], n=4)
            out.append("| %s %s | %.2f | %.2f | %.2f | %.2f | %.2f |" % (
                tool, "-" + kind if tool == "varnicle" else kind, min(times[name]) * 1000.0, q[0] * 1000.0,
                median[name], q[2] * 1000.0, cpu[name]))

    # Within a round the commands run moments apart, so the ratio of their
    # medians there is less exposed to the load of other users than the
    # ratio of the overall medians.
    out.append("\nvarnicle / floor within each round (median over the rounds, and its quartiles):\n")
    for kind in KINDS:
        ratios = [statistics.median(r["varnicle " + kind]["times"]) / statistics.median(r["floor " + kind]["times"])
                  for r in rounds]
        q = statistics.quantiles(ratios, n=4) if len(ratios) > 1 else [ratios[0]] * 3
        out.append("- -%s: %.3f (quartiles %.3f, %.3f)" % (kind, statistics.median(ratios), q[0], q[2]))

    out.append("\n### Verdict records on (to a private listening logger) and off\n")
    out.append("| command | records on | records off | on / floor | off / floor | on / off | CPU on | CPU off |"
               " instructions on | instructions off |")
    out.append("|---|---|---|---|---|---|---|---|---|---|")
    for kind in KINDS:
        on, off, floor = (median["%s %s" % (t, kind)] for t in ("varnicle", RECORDS_OFF, "floor"))
        instructions = []
        for suffix in ("", ".records-off"):
            path = os.path.join(directory, "callgrind-varnicle-%s%s.out" % (kind, suffix))
            instructions.append("%d" % sum(callgrind_costs(path).values()) if os.path.exists(path) else "n/a")
        out.append("| -%s | %.2f ms | %.2f ms | %.3f | %.3f | %.3f | %.2f ms | %.2f ms | %s | %s |" % (
            kind, on, off, on / floor, off / floor, on / off, cpu["varnicle " + kind],
            cpu["%s %s" % (RECORDS_OFF, kind)], instructions[0], instructions[1]))

    with open(os.path.join(directory, "failures.txt")) as f:
        failures = [line.rstrip("\n") for line in f if line.strip()]
    out.append("\nRounds timed again after a failed run: %d%s" % (
        len(failures), "".join("\n- " + line for line in failures)))

    out.append("\n### Peak memory (maximum resident set size, /usr/bin/time -v)\n")
    out.append("| command | varnicle | floor | opensc-tool | scriptor |")
    out.append("|---|---|---|---|---|")
    for kind in KINDS:
        rss = [peak_rss_kb(directory, "%s-%s" % (tool, kind)) for tool in TOOLS]
        out.append("| -%s | %s |" % (kind, " | ".join("%d KB" % r for r in rss)))
        met &= rss[0] < RSS_LIMIT_KB

    out.append("\n### Instructions of one run (valgrind --tool=callgrind)\n")
    out.append("| run | whole process | in varnicle's own code | share | dynamic loader | libc | libpcsclite |")
    out.append("|---|---|---|---|---|---|---|")
    for name in sorted(glob.glob(os.path.join(directory, "callgrind-*.out"))):
        label = os.path.basename(name)[len("callgrind-"):-len(".out")]
        ours = label.startswith("varnicle")
        label = label.replace("-", " -", 1) if ours else label.replace("-", " ")
        label = label.replace(".records-off", " (records off)")
        costs = callgrind_costs(name)
        total = sum(costs.values())

        def by(pattern):
            return sum(c for (o, _), c in costs.items() if o and re.search(pattern, os.path.basename(o)))

        own = sum(c for (o, f), c in costs.items()
                  if o and os.path.realpath(o) == program and f in own_functions)
        out.append("| %s | %d | %s | %s | %d | %d | %d |" % (
            label, total, "%d" % own if ours else "n/a", "%.1f%%" % (100.0 * own / total) if ours else "n/a",
            by(r"^ld-linux"), by(r"^libc\.so"), by(r"^libpcsclite")))

    out.append("\n### Targets (varnicle with its records on)\n")
    for kind in KINDS:
        v = median["varnicle " + kind]
        ratio = v / median["floor " + kind]
        out.append("- -%s: varnicle / floor %.3f (target <= %.2f): %s; faster than opensc-tool: %s; faster than scriptor: %s" % (
            kind, ratio, FLOOR_LIMIT, "met" if ratio <= FLOOR_LIMIT else "NOT met",
            "yes" if v < median["opensc-tool " + kind] else "NO",
            "yes" if v < median["scriptor " + kind] else "NO"))
        rss = peak_rss_kb(directory, "varnicle-" + kind)
        out.append("- -%s: peak memory %d KB (target < %d KB): %s" % (
            kind, rss, RSS_LIMIT_KB, "met" if rss < RSS_LIMIT_KB else "NOT met"))
    print("\n".join(out))
    return 0 if met else 3


if __name__ == "__main__":
    sys.exit(main())
