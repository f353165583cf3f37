"""One scenario, played inside a private network of its own (the caller's namespace):

python3 -m check.play ROLE SCENARIO OUT LABEL RECORDER -- COMMAND [ARGS...]

brings the loopback up, captures it (OUT/wire.pcap), starts COMMAND with the recorder
preloaded (OUT/LABEL.calls), plays the scenario's steps, and writes what was seen to
OUT/seen.json: the console's bytes, what the peer received and whether the program
ended."""
import json
import os
import pty
import socket
import subprocess
import sys
import threading
import time
import tty

from .scenarios import CHAT_PORT, PEER_PORT, SCENARIOS, TIME_PORT, WAIT_S, END_S

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def bound_udp_ports():
    """The UDP ports that something in this network holds (/proc/net/udp)."""
    ports = set()
    for line in open("/proc/net/udp", encoding="ascii").readlines()[1:]:
        ports.add(int(line.split()[1].split(":")[1], 16))
    return ports


def listening_tcp_ports():
    ports = set()
    for line in open("/proc/net/tcp", encoding="ascii").readlines()[1:]:
        fields = line.split()
        if fields[3] == "0A":
            ports.add(int(fields[1].split(":")[1], 16))
    return ports


class Reader(threading.Thread):
    """Everything that arrives until the end, each piece as it comes: RECEIVE(n) reads."""

    def __init__(self, receive):
        super().__init__(daemon=True)
        self.receive, self.data = receive, b""
        self.start()

    def run(self):
        while True:
            try:
                piece = self.receive(65536)
            except OSError:  # a terminal whose program has ended: EIO
                piece = b""
            if not piece:
                return
            self.data += piece


def terminal():
    """A terminal for the program's console, as a learner's is, that passes its bytes as
    they are: the program's C library writes to it a line at a time, as to a console (a
    pipe would hold its output back until it ends, and lose it where it is stopped)."""
    here, there = pty.openpty()
    tty.setraw(there)
    return here, there


def play(role, name, out, label, recorder, command):
    steps = next(s for n, _, s in SCENARIOS[role] if n == name)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    capture = subprocess.Popen([sys.executable, f"{TOP}/trace/capture.py", "capture",
                                f"{out}/wire.pcap"], stdout=subprocess.PIPE)
    capture.stdout.readline()
    seen = {"received": "", "answer": None, "request": None}
    program = console = listener = conn = udp = None

    for step in steps:
        kind = step[0]
        if kind == "listen":
            listener = socket.socket()
            listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            listener.bind(("127.0.0.1", CHAT_PORT))
            listener.listen(5)
        elif kind == "bind":
            udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            udp.bind(("127.0.0.1", TIME_PORT))
        elif kind == "start":
            env = dict(os.environ, LD_PRELOAD=recorder, SOCKETS_TP_CALLS=f"{out}/{label}.calls",
                       TZ="UTC", LC_ALL="C")
            here, there = terminal()
            program = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=there,
                                       stderr=subprocess.DEVNULL, env=env)
            os.close(there)
            seen["started"] = time.time()
            console = Reader(lambda n, fd=here: os.read(fd, n))
        elif kind == "connect":
            # Once something listens (on whatever port): a program that listens elsewhere
            # meets three refused connections on its page, not a hundred.
            deadline = time.time() + WAIT_S
            while not listening_tcp_ports() and time.time() < deadline and program.poll() is None:
                time.sleep(0.05)
            tries = 3
            while conn is None and tries > 0 and program.poll() is None:
                tries -= 1
                attempt = socket.socket()
                attempt.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                attempt.bind(("127.0.0.1", PEER_PORT))
                try:
                    attempt.connect(("127.0.0.1", CHAT_PORT))
                    conn = attempt
                except OSError:
                    attempt.close()
                    time.sleep(0.1)
            if conn is not None:
                stream = Reader(conn.recv)
        elif kind == "accept":
            listener.settimeout(WAIT_S)
            try:
                conn, _ = listener.accept()
                stream = Reader(conn.recv)
            except OSError:  # none came: the differences tell it
                pass
        elif kind == "send" and conn is not None:
            conn.sendall(step[1])
        elif kind == "close" and conn is not None:
            # A close alone would not end a connection that a thread still reads.
            conn.shutdown(socket.SHUT_RDWR)
            conn.close()
        elif kind == "request":
            deadline = time.time() + WAIT_S
            while not bound_udp_ports() and time.time() < deadline and program.poll() is None:
                time.sleep(0.05)
            udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            udp.bind(("127.0.0.1", PEER_PORT))
            udp.settimeout(WAIT_S)
            udp.sendto(step[1], ("127.0.0.1", TIME_PORT))
            try:
                seen["answer"] = udp.recv(65536).hex()
                seen["answered"] = time.time()
            except OSError:  # none came: the differences tell it
                pass
        elif kind == "answer":
            udp.settimeout(WAIT_S)
            try:
                data, there = udp.recvfrom(65536)
                seen["request"] = data.hex()
                udp.sendto(step[1], there)
            except OSError:  # none came: the differences tell it
                pass
        elif kind == "type" and program.poll() is None:
            try:
                program.stdin.write(step[1])
                program.stdin.flush()
            except OSError:
                pass
        elif kind == "eof":
            program.stdin.close()
        elif kind == "pause":
            time.sleep(step[1] / 1000)
    try:
        program.wait(END_S)
        seen["ended"] = True
    except subprocess.TimeoutExpired:
        program.kill()
        program.wait()
        seen["ended"] = False
    console.join(2)
    seen["console"] = console.data.hex()
    if conn is not None:
        stream.join(2)
        seen["received"] = stream.data.hex()
    capture.terminate()
    capture.wait()
    with open(f"{out}/seen.json", "w", encoding="utf-8") as f:
        json.dump(seen, f, indent=1)


if __name__ == "__main__":
    role, name, out, label, recorder, dash, *command = sys.argv[1:]
    play(role, name, out, label, recorder, command)
