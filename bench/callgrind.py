"""callgrind.py EVENTS BARE_SMALL BARE_LARGE PACKAGE_SMALL PACKAGE_LARGE: where the package's
time per event goes, from callgrind profiles (--cache-sim=yes --branch-sim=yes) of a bare loop
and of the package, each run on a small and a large document that differ by EVENTS events.

Subtracting the small run from the large one removes start-up and loading; dividing by EVENTS
gives each function's cost per event. The package's cost minus the bare loop's is what the
package adds to every event, shown by library and by function: instructions (Ir), first-level
instruction and data misses (I1mr, D1mr, D1mw) and mispredicted branches (Bcm, Bim)."""
import collections
import re
import subprocess
import sys

SHOWN = ["Ir", "I1mr", "D1mr", "D1mw", "Bcm", "Bim"]
VALUE = re.compile(r"\s*(?:(-?[\d,]+)(?: \(\s*[-\d.]+%\))?|(\.))(?=\s)")


def self_costs(path):
    """{function: {event: count}} from callgrind_annotate's list of functions."""
    text = subprocess.run(["callgrind_annotate", "--threshold=100", "--auto=no", path],
                          capture_output=True, text=True, check=True).stdout
    events, costs = None, collections.defaultdict(collections.Counter)
    for line in text.splitlines():
        if line.startswith("Events shown:"):
            events = line.split(":", 1)[1].split()
            continue
        if not events or "PROGRAM TOTALS" in line or not VALUE.match(line):
            continue
        values, pos = [], 0
        while len(values) < len(events):
            m = VALUE.match(line, pos)
            if not m:
                break
            values.append(int(m.group(1).replace(",", "")) if m.group(1) else 0)
            pos = m.end()
        name = line[pos:].strip()
        if len(values) == len(events) and name:
            costs[name].update(dict(zip(events, values)))
    return costs


def per_event(small, large, events):
    a, b = self_costs(small), self_costs(large)
    return {name: {e: (b[name][e] - a[name][e]) / events for e in SHOWN}
            for name in set(a) | set(b)}


def library(name):
    for key, label in [("libexpat", "Expat"), ("libregina", "Regina"),
                       ("libquillmark", "package"), ("/c++/", "package"),
                       ("memset", "libc memset"), ("pthread_mutex", "libc mutexes"),
                       ("tls_get_addr", "ld.so __tls_get_addr"), ("libc.so", "libc, other"),
                       ("ld-linux", "libc, other")]:
        if key in name:
            return label
    return "bare loop" if "bench/" in name else "other"


def row(label, cost):
    return "".join(f"{cost[e]:>9.1f}" for e in SHOWN) + "   " + label


def main():
    events = int(sys.argv[1])
    bare = per_event(sys.argv[2], sys.argv[3], events)
    package = per_event(sys.argv[4], sys.argv[5], events)
    header = "".join(f"{e:>9}" for e in SHOWN)
    total = {e: sum(c[e] for c in bare.values()) for e in SHOWN}
    print(header + "   per event")
    print(row("bare loop, all", total))
    total = {e: sum(c[e] for c in package.values()) for e in SHOWN}
    print(row("package, all", total))
    added = {}
    for name in set(bare) | set(package):
        zero = dict.fromkeys(SHOWN, 0.0)
        added[name] = {e: package.get(name, zero)[e] - bare.get(name, zero)[e] for e in SHOWN}
    print("\nWhat the package adds per event, by library")
    print(header)
    groups = collections.defaultdict(lambda: dict.fromkeys(SHOWN, 0.0))
    for name, cost in added.items():
        for e in SHOWN:
            groups[library(name)][e] += cost[e]
    for label, cost in sorted(groups.items(), key=lambda kv: -kv[1]["Ir"]):
        print(row(label, cost))
    print(row("total", {e: sum(g[e] for g in groups.values()) for e in SHOWN}))
    print("\nWhat the package adds per event, by function (|Ir| >= 8 or misses >= 1.5)")
    print(header)
    for name, cost in sorted(added.items(), key=lambda kv: -kv[1]["Ir"]):
        misses = sum(abs(cost[e]) for e in SHOWN[1:])
        if abs(cost["Ir"]) >= 8 or misses >= 1.5:
            print(row(re.sub(r"\s*\[[^]]*\]$", "", name)[:110] + f"  [{library(name)}]", cost))


main()
