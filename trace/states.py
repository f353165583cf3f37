#!/usr/bin/python3
"""TCP states as the kernel has them, for the learner's timelines (root only).

states.py start WORK PORT...   mounts tracefs in WORK/tracefs (the caller runs in a mount
                               namespace of its own, so the machine's mounts stay as they
                               are), makes a tracing instance of this run's own, and enables
                               the tracepoint sock:inet_sock_set_state for TCP sockets of
                               those ports; its clock, CLOCK_MONOTONIC, is lined up with the
                               real-time clock that stamps the calls and the packets
states.py stop WORK            writes each change of state to WORK/states, a line each:
                               NS SADDR:SPORT DADDR:DPORT OLD NEW, then takes the instance
                               and the mount away

Says nothing and does nothing where tracefs cannot be had (not root): the timeline then
shows the states read from each socket at its calls.
"""
import os
import re
import subprocess
import sys
import time

EVENT = "events/sock/inet_sock_set_state"
LINE = re.compile(r"\s(\d+)\.(\d{6}): inet_sock_set_state: .*sport=(\d+) dport=(\d+) "
                  r"saddr=(\S+) daddr=(\S+) .*oldstate=TCP_(\w+) newstate=TCP_(\w+)")


def instance(work):
    return f"{work}/tracefs/instances/sockets-tp-{os.path.basename(work)}"


def start(work, ports):
    mount = f"{work}/tracefs"
    os.makedirs(mount, exist_ok=True)
    # Only as root, and never in the machine's own mount namespace: scripts/demo says that
    # it runs in one of its own.
    if os.geteuid() != 0 or os.environ.get("SOCKETS_TP_OWN_MOUNTS") != "1" \
            or subprocess.run(["mount", "-t", "tracefs", "nodev", mount],
                              capture_output=True, check=False).returncode:
        return
    where = instance(work)
    os.mkdir(where)
    for path, value in (("trace_clock", "mono"),
                        (f"{EVENT}/filter", " || ".join(f"sport == {p} || dport == {p}" for p in ports)),
                        (f"{EVENT}/enable", "1")):
        with open(f"{where}/{path}", "w", encoding="ascii") as f:
            f.write(value)
    # The offset of the tracing clock from the real-time clock, read between two readings
    # of the monotonic clock: the tighter pair of three.
    pairs = []
    for _ in range(3):
        before = time.clock_gettime_ns(time.CLOCK_MONOTONIC)
        real = time.clock_gettime_ns(time.CLOCK_REALTIME)
        after = time.clock_gettime_ns(time.CLOCK_MONOTONIC)
        pairs.append((after - before, real - (before + after) // 2))
    with open(f"{work}/states.clock", "w", encoding="ascii") as f:
        f.write(f"{min(pairs)[1]}\n")


def stop(work):
    where = instance(work)
    if not os.path.isdir(where):
        return
    with open(f"{where}/{EVENT}/enable", "w", encoding="ascii") as f:
        f.write("0")
    offset = int(open(f"{work}/states.clock", encoding="ascii").read())
    with open(f"{where}/trace", encoding="ascii", errors="replace") as trace, \
            open(f"{work}/states", "w", encoding="ascii") as out:
        for line in trace:
            m = LINE.search(line)
            if m:
                seconds, micros, sport, dport, saddr, daddr, old, new = m.groups()
                # The tracer prints whole microseconds: the middle of the one it names.
                at = (int(seconds) * 1000000 + int(micros)) * 1000 + 500 + offset
                out.write(f"{at} {saddr}:{sport} {daddr}:{dport} {old} {new}\n")
    os.rmdir(where)
    subprocess.run(["umount", f"{work}/tracefs"], check=False)


if __name__ == "__main__":
    if len(sys.argv) < 3 or sys.argv[1] not in ("start", "stop"):
        sys.exit(__doc__)
    if sys.argv[1] == "start":
        start(sys.argv[2], sys.argv[3:])
    else:
        stop(sys.argv[2])
