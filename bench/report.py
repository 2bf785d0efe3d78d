"""report.py RAW SUMMARY CHART: the figures of bench/run from its raw lines
("ROUND DOCUMENT NAME WALL CPU [EXTRA]"), written to SUMMARY and shown, and the chart of events
per second drawn into CHART.

Every ratio is formed within a round (runs made side by side); the median over the rounds is the
figure, and the ratio of the fastest run of each side is shown beside it. Processor time is the
main clock: on a machine shared with other work, the clock also counts the turns of other
processes, processor time does not. Wall-clock ratios are shown too."""
import collections
import math
import statistics
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

raw_path, summary_path, chart_path = sys.argv[1:4]

# (clock, doc, name) -> {round: seconds}; clock "cpu" or "wall"
times = collections.defaultdict(dict)
extra = collections.defaultdict(dict)  # (doc, name) -> {round: extra}
events = {}
for line in open(raw_path):
    f = line.split()
    if f[2] == "events":
        events[f[1]] = int(f[3])
        continue
    if f[3] != "-":
        times[("wall", f[1], f[2])][f[0]] = float(f[3])
    times[("cpu", f[1], f[2])][f[0]] = float(f[4])
    if len(f) > 5:
        extra[(f[1], f[2])][f[0]] = f[5]

out = []


def say(text=""):
    out.append(text)


def rounds(clock, doc, name):
    return {r: t for r, t in times[(clock, doc, name)].items() if r != "mem"}


def median_time(clock, doc, name):
    return statistics.median(rounds(clock, doc, name).values())


def ratio(clock, doc, faster, slower):
    """Median over rounds of seconds(faster)/seconds(slower), the speed of `slower` over that of
    `faster`; the ratio of the fastest runs; each round's ratio."""
    a, b = rounds(clock, doc, faster), rounds(clock, doc, slower)
    common = sorted(set(a) & set(b), key=int)
    each = [a[r] / b[r] for r in common]
    return statistics.median(each), min(a.values()) / min(b.values()), each


def show_ratio(label, doc, faster, slower, target=None):
    for clock in ("cpu", "wall"):
        median, fastest, each = ratio(clock, doc, faster, slower)
        verdict = ""
        if target is not None and clock == "cpu":
            verdict = f"  target >= {target:.2f}: {'met' if median >= target else 'MISSED'}"
        name = label if clock == "cpu" else ""
        say(f"  {name:<46}{clock:>5} median {median:.3f}  fastest {fastest:.3f}{verdict}")
        say(f"  {'':<46}{'':>5} rounds " + " ".join(f"{x:.3f}" for x in each))


n = events["items"]
say(f"Handler events on the items document ({n} events; every procedure: parse arg h, a)")
say("  ratio = events/s of the package over calls/s of the bare loop, per round")
show_ratio("in-store / bare RexxStart (own thread)", "items", "rexxstart", "instore", 0.80)
show_ratio("labels / bare RexxCallBack (from a function)", "items", "callback", "labels", 0.85)
for name, what in [("rexxstart", "bare RexxStart"), ("instore", "in-store event"),
                   ("callback", "bare RexxCallBack"), ("labels", "label event")]:
    us = [median_time(clock, "items", name) / n * 1e6 for clock in ("cpu", "wall")]
    say(f"  {what:<46} {us[0]:.3f} us each in processor time, {us[1]:.3f} by the clock "
        "(medians)")
say()

say("Parsing with no procedures against plain C Expat, same 64 KiB pieces")
say("  ratio = speed of the package over that of C (C seconds / package seconds), per round")
for doc in ("items", "records200"):
    say(f" {doc} ({events[doc]} events):")
    show_ratio("charin+ExpatParse / fread+XML_Parse", doc, "parse", "none")
    show_ratio("charin+ExpatParse / XML_GetBuffer+ParseBuffer", doc, "buffer", "none")
    show_ratio("preloaded ExpatParse / fread+XML_Parse", doc, "parse", "preload")
    show_ratio("preloaded ExpatParse / fread+memcpy+ParseBuf", doc, "copy", "preload")
    for name, what in [("parse", "C fread+XML_Parse"), ("none", "charin+ExpatParse"),
                       ("preload", "ExpatParse alone"), ("read", "charin alone")]:
        ms = [median_time(clock, doc, name) * 1e3 for clock in ("cpu", "wall")]
        say(f"  {what:<46} {ms[0]:.2f} ms in processor time, {ms[1]:.2f} by the clock (medians)")
say()

say("Peak memory (VmHWM, kB) reading in 64 KiB pieces with charin, procedures for start, end, "
    "text")
modes = ["none", "labels", "instore", "external"]
say(f"  {'document':<12}{'events':>10}" + "".join(f"{m:>10}" for m in modes)
    + "   processor seconds (none/labels/in-store/external)")
for doc in ("records10", "records200"):
    kb = [extra[(doc, m)].get("mem", "?") for m in modes]
    secs = [f"{times[('cpu', doc, m)].get('mem', math.nan):.2f}" for m in modes]
    say(f"  {doc:<12}{events[doc]:>10}" + "".join(f"{k:>10}" for k in kb) + "   "
        + "/".join(secs))
say()

runners = [("labels", "Rexx labels"), ("instore", "Rexx in-store"),
           ("external", "Rexx external"), ("none", "Rexx, no procedures"),
           ("pyexpat", "Python pyexpat"), ("xmlparser", "Perl XML::Parser"),
           ("lxp", "Lua lxp"), ("noop", "C Expat, no-op handlers")]
rexx = {"labels", "instore", "external", "none"}
titles = {"items": f"items: {events['items']:,} events, short values",
          "records10": f"records, 10 MB: {events['records10']:,} events, ~1 KB texts"}
say("Events per second in processor time (median of the rounds)")
rates = {}
for doc in ("items", "records10"):
    say(f" {doc}:")
    for name, label in runners:
        if rounds("cpu", doc, name):
            rates[(doc, name)] = events[doc] / median_time("cpu", doc, name)
            say(f"  {label:<46} {rates[(doc, name)]:>14,.0f}")

open(summary_path, "w").write("\n".join(out) + "\n")
print("\n".join(out))

fig, axes = plt.subplots(1, 2, figsize=(12, 4.5))
highest = max(rates.values())
for ax, doc in zip(axes, ("items", "records10")):
    shown = [(label, rates[(doc, name)], name) for name, label in runners
             if (doc, name) in rates][::-1]
    bars = ax.barh([s[0] for s in shown], [s[1] for s in shown],
                   color=["#4c72b0" if s[2] in rexx else "#999999" for s in shown])
    ax.set_xscale("log")
    ax.set_xlim(3e4, highest * 12)
    ax.set_title(titles[doc], fontsize=10)
    ax.set_xlabel("events per second of processor time (log scale)")
    for bar, (_, value, _) in zip(bars, shown):
        ax.text(value * 1.08, bar.get_y() + bar.get_height() / 2, f"{value:,.0f}",
                va="center", fontsize=8)
fig.suptitle("Quillmark: start, end and character-data events per second, by mode "
             "(grey: other Expat bindings and C, for context)", fontsize=11)
fig.tight_layout()
fig.savefig(chart_path, dpi=110)
print(f"chart: {chart_path}")
