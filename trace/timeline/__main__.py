"""Calls and packets on one timeline, for the demo, the lessons and the learner's traces.

python3 -m timeline DIR [LESSON.sh]
    reads what a traced run left in DIR (model.py says what) and shows one timeline per
    exchange that DIR/exchanges.json names; writes them as a page (timeline.html), as
    data (timeline.json), and each exchange's packets as NAME.pcapng, every packet with a
    comment that names the call that sent it, or why none did. With a lesson (or the
    demo's file), tells its steps after the table and marks them on the page; exits 1
    where a step was not seen.
"""
import html
import json
import sys

from .model import exchange, rows
from .story import lesson, match, tell
from .sockets import lane
from .page import svg
from .template import PAGE
from .pcapng import pcapng
from .terminal import terminal


def main(directory, lesson_file=None):
    plans = json.load(open(f"{directory}/exchanges.json", encoding="utf-8"))
    name, steps = lesson(lesson_file) if lesson_file else (None, [])
    # A lesson's story is told on its own exchange, the demo's on its first.
    told = next((p["name"] for p in plans if p["name"] == name), plans[0]["name"])
    sections, data, missing = [], {"sockets": {}, "story": {}}, 0
    for plan in plans:
        events, sockets = exchange(directory, plan)
        table = rows(events)
        begin = events[0]["at"] - events[0]["at_ms"] * 1e6 if events else 0
        seen = match(steps, table) if plan["name"] == told else []
        terminal(plan, events)
        sections.append(svg(plan, events, sockets, seen))
        pcapng(f"{directory}/{plan['name']}.pcapng", [e for e in events if e["kind"] == "packet"])
        data[plan["name"]] = [{k: v for k, v in e.items() if k not in ("start", "end", "at", "frame")}
                              for e in events]
        data["sockets"][plan["name"]] = [lane(s, events) for s in sockets]
        data["story"][plan["name"]] = [
            {"step": i + 1, "meaning": meaning, "row": text,
             "at_ms": None if row is None else round((table[row][0] - begin) / 1e6, 3)}
            for i, (meaning, _, row, text) in enumerate(seen)]
        if seen:
            print()
            missing = tell(name, seen, table, begin)
    title = plans[0].get("page", "Calls and packets on one timeline")
    with open(f"{directory}/timeline.html", "w", encoding="utf-8") as page:
        page.write(PAGE.format(title=html.escape(title), sections="\n".join(sections)))
    with open(f"{directory}/timeline.json", "w", encoding="utf-8") as out:
        json.dump(data, out, indent=1, ensure_ascii=False)
    return missing


if __name__ == "__main__":
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    sys.exit(1 if main(*sys.argv[1:]) else 0)
