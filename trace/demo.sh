# The demo: a chat, then a time request, between the real programs, played as the lessons
# are (trace/lessons/README.md): scripts/demo shows the consoles, the wire and the
# timelines that it leaves, and the chat's key steps, told and marked on its page.

# The lines typed at the chat server's console.
typed=("Bonjour, tu me lis ?" ""
       "Une ligne plus longue qu'un enregistrement de 140 octets part en deux morceaux, chacun avec sa pause d'une seconde, et voici le premier... le second commence ici."
       "bye")

play() { # WORK
    local work=$1 sent=0 line
    start_server "$work" chatserver
    start_client "$work" chatclient
    # Each line is typed once the server has said the one before was sent: a line of 139
    # bytes or more goes as two records, so two acknowledgements.
    for line in "${typed[@]}"; do
        sent=$((sent + 1 + ${#line} / 139))
        say "$work" "$line" "$sent"
    done
    finish_chat "$work"

    start_server "$work" timeserver "en mode udp"
    wait_for /proc/net/udp ":0025 " # bound to port 37
    start_client "$work" timeclient " "
    wait_for "$work/timeserver.out" "du client"
    printf '\n' >&3
    printf '\n' >&4
    wait_programs
    exchanges "$work" '{"name": "chat", "title": "The chat, from socket to the last FIN and closesocket",
  "left": ["chatserver"], "right": ["chatclient"], "ports": [1609]},
 {"name": "time", "title": "The time request, from socket to the answer",
  "left": ["timeserver"], "right": ["timeclient"], "ports": [37]}'
}

# The chat's key steps, as the lessons tell theirs.
: << 'STEPS'
right	^connect\(	The client's connect sends a SYN and waits for the answer.
wire	^SYN$	The SYN asks the server's machine for a connection to port 1609.
wire	^SYN ACK$	The listening socket's queue answers it, whether or not accept runs at that
    moment.
wire	^ACK$	The client's system completes the handshake, and connect returns.
left	^accept\(.*\) = \d+	accept takes the connection from the queue: a new socket, with a lane
    of its own.
left	^send\(\d+, 140 bytes\)	The server's send hands a record of 140 bytes to its system...
wire	^PSH ACK 140$	... which sends it at once: the bytes 1 to 140 of the connection.
wire	^ACK$	The client's system acknowledges them on its own: no call of the client sends
    an acknowledgement.
right	^recv\(\d+, 140\) = 140$	The client's recv returns the record.
right	^closesocket\(	After "bye", the client closes its socket...
wire	^FIN ACK$	... and its FIN says that it will send no more.
left	^shutdown\(	After its pause, the server shuts its side of the connection down...
wire	^FIN ACK$	... with a FIN of its own; the last ACK ends the connection.
STEPS
