// What the chat server and the chat client agree on: the port, the record, the farewell
// rule and the texts they print.
#pragma once

#include "platform/winsock.hpp"

namespace chat {

constexpr unsigned short CHAT_PORT = 1609;
// A record is always this many bytes: the line as fgets stores it, then zero bytes.
constexpr int MSG_SIZE = 140;
constexpr const char* SERVER_ADDR = "127.0.0.1";
constexpr int LISTEN_BACKLOG = 5;

// The pauses of one turn: the server's after each line, the client's after each record.
constexpr unsigned long SERVER_PAUSE_MS = 1000;
constexpr unsigned long CLIENT_PAUSE_MS = 1;

// A peer across a network may fall silent (a firewall that drops, a cable pulled): a
// record it has not acknowledged after this many seconds ends the connection, and so
// does a connection attempt that long unanswered (well within ten seconds: the system
// notices on its next retransmission)...
constexpr DWORD SILENCE_S = 8;
// ...and, with nothing to send, keep-alive probes find it out: the first after 10 s of
// silence, then one every 3 s, and Windows gives up after its 10th (40 s in all).
constexpr tcp_keepalive KEEPALIVE = {1, 10000, 3000};

// Every %c in the chat texts is this byte: é in the DOS code pages 437 and 850.
constexpr int E_ACUTE = 0x82;

// A record whose first bytes are "bye" ends the conversation, whatever follows them.
constexpr bool is_farewell(const char* record, int length)
{
    return length >= 3 && record[0] == 'b' && record[1] == 'y' && record[2] == 'e';
}

// The command line. The usage line goes to standard error on wrong use; with -h or
// --help it goes to standard output, and the line that says what the program does with it.
constexpr const char* SERVER_USAGE = "Utilisation : chatserver\n";
constexpr const char* SERVER_ABOUT =
    "Attend un client sur le port TCP 1609 et lui envoie chaque ligne tap%ce, jusqu'au \"bye\".\n";
constexpr const char* CLIENT_USAGE = "Utilisation : chatclient [serveur]\n";
constexpr const char* CLIENT_ABOUT =
    "Se connecte au serveur de chat (nom ou adresse IPv4, 127.0.0.1 "
    "par d%cfaut), port TCP 1609, et affiche ses messages.\n";

// Opening texts, printed by both programs.
constexpr const char* BANNER = " \n\n ------------Tp N 1 : Application de chat en r%cseau.------\n";
constexpr const char* CREDITS = "-Claire Dubois\n-Marc Lambert";

// Server texts.
constexpr const char* SERVER_HEADING = "\n\n=====CREATION DU SERVEUR=========\n\n\n\n";
constexpr const char* SERVER_SOCKET_CREATED = "Socket num%cro: %d cr%ce en mode TCP/IP\n";
constexpr const char* SERVER_LISTENING = "\nEcoute sur le port %d...\n";
constexpr const char* SERVER_WAITING = "\nAttente d'un client sur le port %d...\n";
constexpr const char* SERVER_NEW_CLIENT =
    "\n\nUn nouveau client vient de se connecter avec le socket %d de %s:%d\n";
constexpr const char* SERVER_INSTRUCTIONS =
    " Entrez un message pour discuter avec lui \n\nPour quitter la conversation tapez \"bye\" ";
constexpr const char* SERVER_PROMPT = "\n> ";
constexpr const char* SERVER_NOT_SENT =
    "/! Msg non envoy%c. V%crifer si le client est connect%c \n";
constexpr const char* SERVER_SENT = "(Msg envoy%c)\n";
constexpr const char* SERVER_CLOSING =
    "\nVous avez arret%c la discussion\nFermeture du socket...\n";
constexpr const char* SERVER_CLOSED = "Fermeture du serveur termin%ce\n";

// Client texts.
constexpr const char* CLIENT_HEADING = "\n\n=====CREATION DU CLIENT=========\n%s\n\n\n\n";
constexpr const char* CLIENT_SOCKET_CREATED = "Socket cr%ce,Mode TCP/IP. \n";
constexpr const char* CLIENT_SOCKET_FAILED =
    "Socket n'a pas pu etre cre%c. Erreur r%cseau ou bien v%crifier le num%cro de port";
constexpr const char* CLIENT_UNKNOWN_SERVER =
    "Impossible de trouver le serveur %s. V%crifier son nom ou son adresse\n";
constexpr const char* CLIENT_CONNECT_FAILED =
    "Impossible de se connecter.\n V%crifier si le serveur est en ligne\n";
constexpr const char* CLIENT_CONNECTED = "Connect%c au serveur!\nIp:%s  \nPort:%d \n";
constexpr const char* CLIENT_WAITING = " Attendez que le serveur puisse vous %ccrire....\n\n\n";
// The start-up time stamp, then the record's text up to its first zero byte, never
// beyond the bytes that its receive delivered.
constexpr const char* CLIENT_RECORD = "%s:> %.*s\n";
constexpr const char* CLIENT_END = "Fin de la discussion. \nBye!";

} // namespace chat
