"""Checks a learner's program against ours: scripts/check ROLE -- COMMAND [ARGS...]

python3 -m check ROLE OURS_DIR OUT [--junit FILE] -- COMMAND [ARGS...]
    plays each exchange of ROLE (scenarios.py) twice, each in a private network of its
    own: with our program from OURS_DIR in its place, and with COMMAND; tells each
    difference in words; writes the timelines of the first scenario that differs, ours
    beside the learner's, to OUT (timeline.html, ours.pcapng, yours.pcapng); exits 0 only
    when nothing differs."""
import contextlib
import functools
import io
import json
import os
import shutil
import subprocess
import sys
from xml.sax.saxutils import escape, quoteattr

from timeline.__main__ import main as timeline

from timeline.plan import named_ports

from .differ import differences, program_calls
from .scenarios import CHARSET, PEER_PORT, PORT, SCENARIOS, SERVICE

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


@functools.cache
def private_network():
    """The command that runs another in a network of its own, loopback only."""
    if subprocess.run(["unshare", "--user", "--map-root-user", "--net", "true"],
                      capture_output=True, check=False).returncode == 0:
        return ["unshare", "--user", "--map-root-user", "--net"]
    if os.geteuid() == 0:
        return ["unshare", "--net"]
    sys.exit("check: this machine refuses user namespaces; run it as root")


def label_of(command):
    return os.path.basename(command[0])


def run_both(role, name, ours_dir, out, command):
    """The scenario with ours and with theirs, side by side (each its own network)."""
    runs = {}
    for who, cmd in (("ours", [f"{ours_dir}/{role}"]), ("yours", command)):
        folder = f"{out}/{name}/{who}"
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        runs[who] = (folder, label_of(cmd), subprocess.Popen(
            private_network() + [sys.executable, "-m", "check.play", role, name, folder,
                                 label_of(cmd), f"{ours_dir}/libcalls.so", "--"] + cmd,
            env=dict(os.environ, PYTHONPATH=f"{TOP}/trace",
                     **({"SOCKETS_TP_CALLERS": "1"} if who == "yours" else {}))))
    seen = {}
    for who, (folder, label, process) in runs.items():
        process.wait()
        seen[who] = (json.load(open(f"{folder}/seen.json", encoding="utf-8")),
                     program_calls(f"{folder}/{label}.calls"), label)
    return seen


def picture(role, out, name, title, seen, first):
    """The timelines of one scenario, ours above the learner's, the first difference marked."""
    service = SERVICE[role]
    side, other = ("left", "right") if role.endswith("server") else ("right", "left")
    peer = "the checker's " + ("client" if side == "left" else "server")
    steps = {s[0] for n, _, steps in SCENARIOS[role] if n == name for s in steps}
    port = PEER_PORT if side == "left" else PORT[service]
    held = steps & {"listen", "bind", "connect", "request"}
    peers = {str(port): f"port {port}: {peer}, not traced"} if held else {}
    plans = []
    for who in ("ours", "yours"):
        calls, label = seen[who][1], seen[who][2]
        ports = {PORT[service]} | set(named_ports(calls, side == "left"))
        plans.append({"name": who, "dir": f"{name}/{who}", side: [label], other: [],
                      f"{other}_title": "the checker", "peers": peers, "ports": sorted(ports),
                      "charset": CHARSET[service],
                      "title": f"{'Ours' if who == 'ours' else 'Yours'}: {label}, {title}",
                      "page": f"{role}: ours beside yours ({name})"})
    json.dump(plans, open(f"{out}/exchanges.json", "w", encoding="utf-8"))
    story = f"{out}/yours.sh"
    with open(story, "w", encoding="utf-8") as f:
        words, mark = first
        step = f"{mark[0]}\t{mark[1]}\t{words}\n" if mark else ""
        f.write(f": << 'STEPS'\n{step}STEPS\n")
    with contextlib.redirect_stdout(io.StringIO()) as shown:
        timeline(out, story if mark else None)
    open(f"{out}/timeline.txt", "w", encoding="utf-8").write(shown.getvalue())


def junit(path, role, results):
    failures = sum(1 for r in results if r[2])
    with open(path, "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n')
        f.write(f'<testsuite name={quoteattr("check " + role)} tests="{len(results)}" '
                f'failures="{failures}">\n')
        for name, title, diffs in results:
            f.write(f'  <testcase classname={quoteattr(role)} name={quoteattr(name)}>')
            if diffs:
                f.write(f'<failure message={quoteattr(diffs[0][0])}>'
                        f'{escape(title + chr(10) + chr(10).join(d[0] for d in diffs))}</failure>')
            f.write("</testcase>\n")
        f.write("</testsuite>\n")


def main(argv):
    role, ours_dir, out = argv[:3]
    rest = argv[3:]
    junit_path = None
    if rest[:1] == ["--junit"]:
        junit_path, rest = rest[1], rest[2:]
    command = rest[1:]
    os.makedirs(out, exist_ok=True)
    for old in ("timeline.html", "timeline.json", "timeline.txt", "ours.pcapng", "yours.pcapng"):
        with contextlib.suppress(FileNotFoundError):
            os.remove(f"{out}/{old}")
    print(f"check: {' '.join(command)} in the place of our {role}")
    results, first = [], None
    for name, title, _ in SCENARIOS[role]:
        seen = run_both(role, name, ours_dir, out, command)
        diffs = differences(role, seen["ours"][0], seen["yours"][0], seen["ours"][1],
                            seen["yours"][1])
        results.append((name, title, diffs))
        print(f"{'DIFFERS' if diffs else 'same   '}  {name}: {title}")
        for words, _ in diffs:
            print(f"           - {words}")
        if diffs and first is None:
            first = name
            marked = next((d for d in diffs if d[1]), diffs[0])
            picture(role, out, name, title, seen, marked)
    if junit_path:
        junit(junit_path, role, results)
    if first:
        print(f"\nThe first exchange that differs ({first}), ours beside yours: "
              f"{out}/timeline.html, with every packet in {out}/ours.pcapng and "
              f"{out}/yours.pcapng for Wireshark.")
        return 1
    print(f"\nNothing differs: yours did what ours does in each of the {len(results)} exchanges.")
    return 0


if __name__ == "__main__":
    if len(sys.argv) < 6 or "--" not in sys.argv:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1:]))
