# The lesson forgotten-htons: how it is played, and what each step of its run teaches (the format:
# trace/lessons/README.md).

summary='a server whose port was never put in network order listens on 18694; the SYN to 1609 meets RST'

# Before the play, outside its network: the server as a learner might write it, built in a
# scratch copy: its port goes to bind in the machine's byte order.
prepare() { # WORK
    scratch_server "$1" 's/sin.sin_port = htons(CHAT_PORT);/sin.sin_port = CHAT_PORT;/'
}

# The TCP ports whose sockets' states the kernel reports: where the client knocks, and
# where the server listens.
tcp_ports="1609 18694"

play() { # WORK
    local work=$1
    start_server "$work" chatserver
    note "$work" chatserver "ss -tln: listening on $(ss -Htln | awk '{print $4}' | grep -v '^127' | head -1)"
    start_client "$work" chatclient "Impossible de se connecter"
    printf '\n' >&4
    note "$work" chatserver "chatserver is stopped (Ctrl-C)"
    kill -INT "${pids[chatserver]}"
    wait_programs
    exchanges "$work" '{"name": "forgotten-htons", "title": "A server whose port was never put in network order",
  "left": ["chatserver"], "right": ["chatclient"], "ports": [1609, 18694]}'
}

: << 'STEPS'
left	^bind\(\d+, 0\.0\.0\.0:18694\) = 0$	This server gave bind the port 1609 in the
    machine's byte order: its code says "sin.sin_port = CHAT_PORT;" where the program has
    "sin.sin_port = htons(CHAT_PORT);". 1609 is 0x0649, which goes on the wire as the
    bytes 0x49 0x06, port 18694.
left	^» ⏎Ecoute sur le port 1609	Its console still says 1609: it prints the constant,
    not what it bound.
left	^▸ ss -tln: listening on 0\.0\.0\.0:18694$	ss shows where it listens.
wire	^SYN$	The client's SYN goes to port 1609...
wire	^RST ACK$	... where nothing listens: the answer is a reset.
right	^connect\(.*\) = -1 WSAECONNREFUSED \(10061\)$	connect fails with WSAECONNREFUSED
    (10061). htons(CHAT_PORT) mends it.
STEPS
