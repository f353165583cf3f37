# The lesson no-chat-server: how it is played, and what each step of its run teaches (the format:
# trace/lessons/README.md).

summary='a client connects where nothing listens: SYN, RST, connect fails with 10061'

play() { # WORK
    local work=$1
    start_client "$work" chatclient "Impossible de se connecter"
    printf '\n' >&4
    wait_programs
    exchanges "$work" '{"name": "no-chat-server", "title": "A client connects where nothing listens",
  "left": [], "right": ["chatclient"], "ports": [1609], "left_title": "port 1609: nothing listens"}'
}

: << 'STEPS'
right	^connect\(	The client's connect begins.
wire	^SYN$	Its SYN goes to port 1609.
wire	^RST ACK$	Nothing listens on port 1609, so the system answers the SYN with a
    reset (RST): there is no one to accept.
right	^connect\(.*\) = -1 WSAECONNREFUSED \(10061\)$	connect fails: WSAECONNREFUSED
    (10061), a refused connection.
right	^» Impossible de se connecter\.	The client says so and closes.
STEPS
