# The demo: a chat, then a time request, between the real programs, played as the lessons
# are (trace/lessons/README.md) but with no steps to tell: scripts/demo shows the consoles,
# the wire and the timelines that it leaves.

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
