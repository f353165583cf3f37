"""python3 -m timeline.story LESSON.sh TIMELINE.json: what a lesson's run shows, and why,
told from its timeline.

Each lesson (trace/lessons/) has a list of steps, in the order they must happen: where the
step is seen (a side's calls, console or notes, or the wire), what its text is, and what
it means. Each step is looked for after the one before; it is told with the time it
happened and the text that shows it, or said missing (and the run fails): nothing is told
that the run did not show."""
import json
import os
import re
import sys


def lesson(path):
    """A lesson file's name (less the number that orders the list) and its steps: (side,
    pattern, meaning) from the block between ": << 'STEPS'" and "STEPS", a step a line
    of three fields apart by tabs, its meaning going on in the indented lines below."""
    name = re.sub(r"^\d+-", "", os.path.basename(path)).removesuffix(".sh")
    text = open(path, encoding="utf-8").read()
    block = text.split(": << 'STEPS'\n", 1)[1].split("\nSTEPS\n", 1)[0]
    steps = []
    for line in block.splitlines():
        if line.startswith(" "):
            side, pattern, meaning = steps[-1]
            steps[-1] = (side, pattern, f"{meaning} {line.strip()}")
        else:
            steps.append(tuple(line.split("\t")))
    return name, steps


def moments(events):
    """(ms, side, text) of everything that happened, in order: a call where it begins
    ("name(...) …") and where it returns (its whole text, result included)."""
    out = []
    for e in events:
        who = f"{e['process']}: " if e.get("shared") else ""
        if e["kind"] == "call":
            out.append((e["start_ms"], e["side"], f"{who}{e['call']} …"))
            if e["end_ms"] is not None:
                out.append((e["end_ms"], e["side"], who + e["text"]))
        else:
            out.append((e["at_ms"], e["side"], e["name"] if e["kind"] == "packet" else who + e["text"]))
    return sorted(out, key=lambda m: m[0])


def tell(name, steps, events):
    events = moments(events)
    print(f"======== What happened, and why ({name}) ========")
    at, missing = 0, 0
    for side, pattern, meaning in steps:
        found = next((i for i in range(at, len(events))
                      if events[i][1] == side and re.search(pattern, events[i][2])), None)
        if found is None:
            missing += 1
            print(f"   (not seen in this run: {pattern}) {meaning}")
            continue
        ms, _, text = events[found]
        print(f"{ms:9.3f} ms  {text}\n             {meaning}")
        at = found + 1
    return missing


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    lesson_name, lesson_steps = lesson(sys.argv[1])
    timeline = json.load(open(sys.argv[2], encoding="utf-8"))
    sys.exit(1 if tell(lesson_name, lesson_steps, timeline[lesson_name]) else 0)
