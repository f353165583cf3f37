"""What a lesson's run shows, and why, told from its timeline: in the terminal after its
table, and on its page, each step marked on its row.

Each lesson (trace/lessons/) has a list of steps, in the order they must happen: where the
step is seen (a side's calls, console or notes, or the wire), what its text is, and what
it means. Each step is looked for after the one before; it is told with the time it
happened and the text that shows it, or said missing (and the run fails): nothing is told
that the run did not show."""
import os
import re


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


def moments(table):
    """(row, side, text) of everything that happened, in the order of the timeline's rows: a
    call where it begins ("name(...) …") and where it returns (its whole text, result
    included), both on its one row where it has one."""
    out = []
    for row, (_, e, part) in enumerate(table):
        who = f"{e['process']}: " if e.get("shared") else ""
        if e["kind"] == "packet":
            out.append((row, "wire", e["name"]))
            continue
        if e["kind"] == "call" and part in ("begins", "whole"):
            out.append((row, e["side"], f"{who}{e['call']} …"))
        if part != "begins" or e["kind"] != "call":
            out.append((row, e["side"], who + e["text"]))
    return out


def match(steps, table):
    """Each step with the row it was seen on, after the one before (None: not seen)."""
    seen, at = [], 0
    said = moments(table)
    for side, pattern, meaning in steps:
        found = next((i for i in range(at, len(said))
                      if said[i][1] == side and re.search(pattern, said[i][2])), None)
        seen.append((meaning, pattern, None if found is None else said[found][0],
                     None if found is None else said[found][2]))
        at = found + 1 if found is not None else at
    return seen


def tell(name, seen, table, begin):
    """The story in the terminal, each step with its row's time; the count of those not seen.
    A step's time is the time of the row it marks, as the table shows it."""
    print(f"======== What happened, and why ({name}) ========")
    missing = 0
    for meaning, pattern, row, text in seen:
        if row is None:
            missing += 1
            print(f"   (not seen in this run: {pattern}) {meaning}")
            continue
        print(f"{(table[row][0] - begin) / 1e6:9.3f} ms  {text}\n             {meaning}")
    return missing
