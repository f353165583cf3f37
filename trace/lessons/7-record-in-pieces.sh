# The lesson record-in-pieces: how it is played, and what each step of its run teaches (the
# format: trace/lessons/README.md).

summary='a server sends each record in two sends, 200 ms apart: each recv returns a piece of 70 bytes, which the client shows as a record'

# Before the play, outside its network: the server as a learner might write it, built in a
# scratch copy: each record goes out in two halves, a moment apart.
prepare() { # WORK
    scratch_server "$1" 's|^\( *\)sock_err = send(csock, texte, MSG_SIZE, 0);|\1sock_err = send(csock, texte, MSG_SIZE / 2, 0);\n\1_sleep(200);\n\1sock_err = send(csock, texte + MSG_SIZE / 2, MSG_SIZE / 2, 0);|'
}

play() { # WORK
    local work=$1
    start_server "$work" chatserver
    start_client "$work" chatclient
    say "$work" "Bonjour, tu me lis ?" 1
    wait_for "$work/chatclient.out" ":> " 2 # both halves shown
    say "$work" "bye" 2
    finish_chat "$work"
    exchanges "$work" '{"name": "record-in-pieces", "title": "A record sent in two pieces",
  "left": ["chatserver"], "right": ["chatclient"], "ports": [1609]}'
}

: << 'STEPS'
left	^send\(\d+, 70 bytes\) …$	This server writes each record of 140 bytes in two sends of
    70, 200 ms apart, as a learner's own server may.
wire	^PSH ACK 70$	The first 70 bytes travel alone.
right	^recv\(\d+, 140\) = 70$	The client asked for 140 bytes; its recv returns the 70 that
    have come. TCP carries a stream of bytes: it keeps no record's bounds, and one receive
    is not one record.
right	^» .*:> Bonjour, tu me lis \?⏎	The client takes that piece for a record and shows it:
    its text ends within those 70 bytes.
wire	^PSH ACK 70$	The other 70 bytes come 200 ms later...
right	^recv\(\d+, 140\) = 70$	... and the next recv returns them as if they were a record
    of their own...
right	^» .*:> ⏎$	... which the client shows as an empty line: the 70 zero bytes that end the
    same record.
right	^» Fin de la discussion	Reading a whole record takes a loop that receives until 140
    bytes have come (or one recv with MSG_WAITALL). This client keeps one receive per
    record all the same: its own server sends each record whole, a second apart, and a
    sender of lines such as nc -l 1609 keeps working with it.
STEPS
