// chatclient [SERVER]: connects to the chat server (127.0.0.1 unless named), port 1609,
// and prints every record that arrives behind the time at which the client started, until
// the farewell.
#include "chat/common.hpp"
#include "platform/command_line.hpp"
#include "platform/winsock.hpp"

#include <cstdio>

using namespace chat;

int main(int argc, char* argv[])
{
    Use use;
    WSADATA WSAData;
    int erreur;
    SOCKET sock = INVALID_SOCKET;
    addrinfo hints{};
    addrinfo* found = nullptr;
    sockaddr_in sin{};
    char texteRecu[MSG_SIZE];
    time32 timer;
    DWORD silence = SILENCE_S;
    tcp_keepalive keepalive = KEEPALIVE;
    DWORD returned;
    int n;

    use = use_of(argc, argv, 1);
    if (use == Use::Help) {
        std::printf(CLIENT_USAGE);
        std::printf(CLIENT_ABOUT, E_ACUTE);
        return 0;
    }
    if (use == Use::Wrong) {
        std::fprintf(stderr, CLIENT_USAGE);
        return EXIT_WRONG_USE;
    }

    erreur = WSAStartup(MAKEWORD(2, 2), &WSAData);

    std::printf(BANNER, E_ACUTE);
    std::puts(CREDITS);
    // The one time stamp of the run: every record is shown behind it.
    time(&timer);
    std::printf(CLIENT_HEADING, ctime(&timer));
    if (erreur != 0)
        goto fin;

    sock = socket(AF_INET, SOCK_STREAM, 0);
    if (sock != INVALID_SOCKET)
        std::printf(CLIENT_SOCKET_CREATED, E_ACUTE);
    else
        std::printf(CLIENT_SOCKET_FAILED, E_ACUTE, E_ACUTE, E_ACUTE, E_ACUTE);

    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = inet_addr(SERVER_ADDR);
    sin.sin_port = htons(CHAT_PORT);
    // A server named on the command line: its first IPv4 address. Nothing is sent to a
    // server that cannot be found. Across a network, a server may fall silent: connecting
    // then gives up, and a silent server ends the conversation as a farewell does.
    if (use == Use::Server) {
        hints.ai_family = AF_INET;
        if (getaddrinfo(argv[1], nullptr, &hints, &found) != 0) {
            std::printf(CLIENT_UNKNOWN_SERVER, argv[1], E_ACUTE);
            goto fermeture;
        }
        sin.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        freeaddrinfo(found);
        setsockopt(sock, IPPROTO_TCP, TCP_MAXRT, reinterpret_cast<const char*>(&silence),
                   sizeof silence);
        WSAIoctl(sock, SIO_KEEPALIVE_VALS, &keepalive, sizeof keepalive, nullptr, 0, &returned,
                 nullptr, nullptr);
    }
    if (connect(sock, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == SOCKET_ERROR) {
        std::printf(CLIENT_CONNECT_FAILED, E_ACUTE);
        goto fermeture;
    }
    std::printf(CLIENT_CONNECTED, E_ACUTE, inet_ntoa(sin.sin_addr), ntohs(sin.sin_port));
    std::printf(CLIENT_WAITING, E_ACUTE);

    // One receive is one record. Only the bytes it delivered are shown and tested, and a
    // server that has hung up (0) or a failed receive (-1) ends the conversation.
    do {
        n = recv(sock, texteRecu, MSG_SIZE, 0);
        if (n > 0)
            std::printf(CLIENT_RECORD, ctime(&timer), n, texteRecu);
        _sleep(CLIENT_PAUSE_MS);
    } while (n > 0 && !is_farewell(texteRecu, n));
    std::printf(CLIENT_END);

fermeture:
    closesocket(sock);
    WSACleanup();

fin:
    std::getchar();
    return 0;
}
