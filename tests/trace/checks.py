"""The tests' one tally: each check counted, each failure said; the summary line and the
exit status at the end."""
import html
import re
import subprocess
import sys

_tally = {"checks": 0, "failed": 0}


def expect(ok, what):
    _tally["checks"] += 1
    if not ok:
        _tally["failed"] += 1
        print("FAILED:", what)
    return bool(ok)


def summary(name):
    """Prints NAME: passed and failed; the exit status for them."""
    checks, failed = _tally["checks"], _tally["failed"]
    print(f"{name}: {checks - failed} passed, {failed} failed")
    return 1 if failed else 0


def finish(name):
    sys.exit(summary(name))


def chromium(profile, *args):
    """Headless Chromium's output. As root, Chromium runs only without its sandbox; the rest
    keeps it off the network."""
    return subprocess.run(
        ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
         "--no-first-run", "--disable-background-networking", "--disable-component-update",
         "--disable-sync", f"--user-data-dir={profile}", *args],
        capture_output=True, text=True, timeout=120, check=True).stdout


def story_on_page(dom, story, name):
    """Every step of a story (the timeline's data) on the page as a browser has it: its
    text whole, and its numbered marker on the row of its time."""
    # The section of the exchange whose story it is: each section's rows start at the top.
    dom = next((part for part in dom.split("<section>") if '<g class="step"' in part), "")
    markers = {int(n): float(cy) for n, cy in
               re.findall(r'<g class="step" data-step="(\d+)">.*?<circle cx="[\d.]+" cy="([\d.]+)"', dom)}
    rows = {float(y) - 4: t for y, t in
            re.findall(r'<text class="time" x="8" y="([\d.]+)">([\d.]+) ms</text>', dom)}
    text = html.unescape(dom)
    # What the ladder shows of each row, its tooltip aside: a call may lose its arguments,
    # never its name or its result.
    shown = [html.unescape(t) for t in re.findall(r'</title>([^<]+)</text>', dom)]
    for step in story:
        if " = " in step["row"] and "(" in step["row"].split(" = ")[0]:
            name, result = step["row"].split("(")[0].split(": ")[-1], step["row"].split(" = ", 1)[1]
            expect(any(re.search(rf"(^|: |… ){re.escape(name)}[( ]", t) and t.endswith(" = " + result)
                       for t in shown),
                   f"{name}: step {step['step']}'s row shows its call's name and result whole")
        at = markers.get(step["step"])
        expect(step["at_ms"] is not None and rows.get(at) == f"{step['at_ms']:.3f}"
               and step["meaning"] in text and step["row"] in text,
               f"{name}: step {step['step']} told whole and marked on its row at "
               f"{step['at_ms']} ms (marker on the row of {rows.get(at)} ms)")
