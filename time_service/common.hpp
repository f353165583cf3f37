// What the time server and the time client agree on: the Time Protocol of RFC 868 over
// UDP, its 4-byte answer, and the conversions between it and the programs' time value.
#pragma once

#include "platform/winsock.hpp"

#include <cstdint>

namespace time_service {

constexpr unsigned short TIME_PORT = 37;
// Seconds from 1900-01-01 00:00:00 UTC, where the protocol counts from, to 1970.
constexpr std::uint32_t EPOCH_OFFSET = 2208988800U;
constexpr const char* SERVER_ADDR = "127.0.0.1";

// Any datagram is a request; only this much of it is kept, and none of it is read.
constexpr int REQUEST_SIZE = 4096;

// A server named on the command line may be far, and a datagram lost on the way: the
// client then waits this long for the answer, asking again each time, at most this many
// times; then its receive fails with WSAETIMEDOUT.
constexpr DWORD ANSWER_WAIT_MS = 1000;
constexpr int REQUESTS = 5;

// The answer: seconds since 1900, modulo 2^32, in network byte order. Plain 32-bit
// arithmetic both ways, so counts that wrapped after 2036-02-07 still convert back.
inline std::uint32_t to_wire(time32 now)
{
    return htonl(static_cast<std::uint32_t>(now) + EPOCH_OFFSET);
}

inline time32 from_wire(std::uint32_t reply)
{
    return static_cast<time32>(ntohl(reply) - EPOCH_OFFSET);
}

// A datagram longer than the buffer arrives cut to the buffer's length: POSIX systems
// say nothing of it, Winsock says WSAEMSGSIZE after storing the bytes that fit.
inline int cut_to_buffer(int received, int buffer_size)
{
    return received == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE ? buffer_size : received;
}

// Texts. The accented letters are single ISO-8859-1 bytes.

// The command line. The usage line goes to standard error on wrong use; with -h or
// --help it goes to standard output, and the line that says what the program does with it.
constexpr const char* SERVER_USAGE = "Utilisation : timeserver\n";
constexpr const char* SERVER_ABOUT =
    "R\xE9pond \xE0 une demande de temps (RFC 868) sur le port UDP 37, puis attend Entr\xE9"
    "e.\n";
constexpr const char* CLIENT_USAGE = "Utilisation : timeclient [serveur]\n";
constexpr const char* CLIENT_ABOUT = "Demande l'heure au serveur de temps (nom ou adresse IPv4, "
                                     "127.0.0.1 par d\xE9"
                                     "faut), port UDP 37 (RFC 868), et l'affiche.\n";

constexpr const char* STARTUP_FAILED = "WSAStartup a \xE9"
                                       "chou\xE9";

constexpr const char* SERVER_SOCKET_OPEN =
    "Le socket %d est maintenant ouvert en mode udpsur le prt %d /n";
constexpr const char* SERVER_SOCKET_FAILED = "Ne peut pas cr\xE9"
                                             "er le socket: num\xE9ro d'erreur %d\n";
constexpr const char* SERVER_BIND_FAILED =
    "Ne peut pas param\xE9trer le socket avec le num. de port %d: num\xE9ro d'erreur %d\n";
constexpr const char* SERVER_RECEIVE_FAILED = "Probl\xE8me de r\xE9"
                                              "ception de message: num\xE9ro d'erreur %d\n";
constexpr const char* SERVER_REQUEST_FROM =
    "le serveur \xE0 recu une demande de temps du client %s ";

constexpr const char* CLIENT_SOCKET_FAILED = "Probl\xE8me de cr\xE9"
                                             "ation du socket: num\xE9ro d'erreur %d\n";
constexpr const char* CLIENT_LOOKUP_FAILED = "La recherche du serveur %s a \xE9"
                                             "chou\xE9: num\xE9ro d'erreur %d\n";
constexpr const char* CLIENT_RECEIVE_FAILED = "La r\xE9"
                                              "ception a \xE9"
                                              "chou\xE9: num\xE9ro d'erreur %d\n";
constexpr const char* CLIENT_CALENDAR = "%s";

} // namespace time_service
