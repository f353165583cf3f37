// chatserver: accepts one client on TCP port 1609 and sends it every line typed at the
// console as a 140-byte record, until a line that begins with "bye".
#include "chat/common.hpp"
#include "platform/command_line.hpp"
#include "platform/winsock.hpp"

#include <cstdio>
#include <cstring>

using namespace chat;

int main(int argc, char* argv[])
{
    Use use;
    WSADATA WSAData;
    int erreur;
    SOCKET sock = INVALID_SOCKET;
    sockaddr_in sin{};
    SOCKET csock = INVALID_SOCKET;
    sockaddr_in csin{};
    socklen_t recsize = sizeof csin;
    char texte[MSG_SIZE];
    int sock_err;
    DWORD silence = SILENCE_S;
    tcp_keepalive keepalive = KEEPALIVE;
    DWORD returned;
    bool lu;

    // The server takes no argument: one given (a port, say) is refused, not passed over.
    use = use_of(argc, argv, 0);
    if (use == Use::Help) {
        std::printf(SERVER_USAGE);
        std::printf(SERVER_ABOUT, E_ACUTE);
        return 0;
    }
    if (use == Use::Wrong) {
        std::fprintf(stderr, SERVER_USAGE);
        return EXIT_WRONG_USE;
    }

    erreur = WSAStartup(MAKEWORD(2, 2), &WSAData);

    std::printf(BANNER, E_ACUTE);
    std::puts(CREDITS);
    if (erreur != 0)
        goto fin;

    std::puts(SERVER_HEADING);
    sock = socket(AF_INET, SOCK_STREAM, 0);
    if (sock == INVALID_SOCKET)
        goto liberation;
    std::printf(SERVER_SOCKET_CREATED, E_ACUTE, static_cast<int>(sock), E_ACUTE);

    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_ANY);
    sin.sin_port = htons(CHAT_PORT);
    sock_err = bind(sock, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
    if (sock_err == SOCKET_ERROR)
        goto fermeture;

    sock_err = listen(sock, LISTEN_BACKLOG);
    std::printf(SERVER_LISTENING, CHAT_PORT);
    if (sock_err == SOCKET_ERROR)
        goto fermeture;

    std::printf(SERVER_WAITING, CHAT_PORT);
    csock = accept(sock, reinterpret_cast<sockaddr*>(&csin), &recsize);
    if (csock == INVALID_SOCKET)
        goto fermeture;
    std::printf(SERVER_NEW_CLIENT, static_cast<int>(csock), inet_ntoa(csin.sin_addr),
                ntohs(csin.sin_port));
    // A client that falls silent ends the connection, whether a line waits for its
    // acknowledgement or none is being sent: no later line is then called sent.
    setsockopt(csock, IPPROTO_TCP, TCP_MAXRT, reinterpret_cast<const char*>(&silence),
               sizeof silence);
    WSAIoctl(csock, SIO_KEEPALIVE_VALS, &keepalive, sizeof keepalive, nullptr, 0, &returned,
             nullptr, nullptr);
    std::puts(SERVER_INSTRUCTIONS);

    // One turn per console read: a line longer than a record is sent over several turns.
    // The end of the input ends the conversation as "bye" does.
    do {
        std::printf(SERVER_PROMPT);
        // Zeros behind the text, so that nothing of an earlier, longer line is sent again.
        std::memset(texte, 0, sizeof texte);
        lu = std::fgets(texte, MSG_SIZE, stdin) != nullptr;
        if (lu) {
            sock_err = send(csock, texte, MSG_SIZE, 0);
            if (sock_err == SOCKET_ERROR)
                std::printf(SERVER_NOT_SENT, E_ACUTE, E_ACUTE, E_ACUTE);
            else
                std::printf(SERVER_SENT, E_ACUTE);
        }
        _sleep(SERVER_PAUSE_MS);
    } while (lu && !is_farewell(texte, MSG_SIZE));
    shutdown(csock, SD_BOTH);

fermeture:
    std::printf(SERVER_CLOSING, E_ACUTE);
    closesocket(sock);
    std::printf(SERVER_CLOSED, E_ACUTE);

liberation:
    WSACleanup();

fin:
    std::getchar();
    return 0;
}
