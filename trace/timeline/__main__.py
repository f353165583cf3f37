"""Calls and packets on one timeline, for the demo, the lessons and the learner's traces.

python3 -m timeline DIR
    reads what a traced run left in DIR (model.py says what) and shows one timeline per
    exchange that DIR/exchanges.json names; writes them as a page (timeline.html), as
    data (timeline.json), and each exchange's packets as NAME.pcapng, every packet with a
    comment that names the call during which it crossed
"""
import html
import json
import sys

from .model import exchange
from .sockets import lane
from .page import PAGE, svg
from .pcapng import pcapng
from .terminal import terminal


def main(directory):
    plans = json.load(open(f"{directory}/exchanges.json", encoding="utf-8"))
    sections, data = [], {}
    for plan in plans:
        events, sockets = exchange(directory, plan)
        terminal(plan, events)
        sections.append(svg(plan, events, sockets))
        pcapng(f"{directory}/{plan['name']}.pcapng", [e for e in events if e["kind"] == "packet"])
        data[plan["name"]] = [{k: v for k, v in e.items() if k not in ("start", "end", "at", "frame")}
                              for e in events]
        data.setdefault("sockets", {})[plan["name"]] = [lane(s, events) for s in sockets]
    title = plans[0].get("page", "Calls and packets on one timeline")
    with open(f"{directory}/timeline.html", "w", encoding="utf-8") as page:
        page.write(PAGE.format(title=html.escape(title), sections="\n".join(sections)))
    with open(f"{directory}/timeline.json", "w", encoding="utf-8") as out:
        json.dump(data, out, indent=1, ensure_ascii=False)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
