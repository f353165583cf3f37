// chatclient: connects to the chat server on 127.0.0.1, port 1609, and prints every record
// that arrives behind the time at which the client started, until the farewell.
#include "chat/common.hpp"
#include "platform/winsock.hpp"

using namespace chat;

int main()
{
    WSADATA WSAData;
    int erreur;
    SOCKET sock = INVALID_SOCKET;
    sockaddr_in sin{};
    char texteRecu[MSG_SIZE];
    time32 timer;
    int n;

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
    if (connect(sock, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == SOCKET_ERROR) {
        std::printf(CLIENT_CONNECT_FAILED, E_ACUTE);
        goto fermeture;
    }
    std::printf(CLIENT_CONNECTED, E_ACUTE, inet_ntoa(sin.sin_addr), htons(sin.sin_port));
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
