// timeserver: answers one RFC 868 time request on UDP port 37 with the current time as
// seconds since 1900, says who asked, and waits for a final character.
#include "platform/command_line.hpp"
#include "platform/winsock.hpp"
#include "time_service/common.hpp"

#include <cstdint>
#include <cstdio>

using namespace time_service;

int main(int argc, char* argv[])
{
    Use use;
    WSADATA wsadata;
    SOCKET sock;
    sockaddr_in sin{};
    sockaddr_in csin{};
    int len;
    char buff[REQUEST_SIZE];
    int n;
    time32 ticks;
    std::uint32_t reply;

    // The server takes no argument: one given (a port, say) is refused, not passed over.
    use = use_of(argc, argv, 0);
    if (use == Use::Help) {
        std::printf(SERVER_USAGE);
        std::printf(SERVER_ABOUT);
        return 0;
    }
    if (use == Use::Wrong) {
        std::fprintf(stderr, SERVER_USAGE);
        return EXIT_WRONG_USE;
    }

    if (WSAStartup(MAKEWORD(2, 2), &wsadata) != 0)
        std::puts(STARTUP_FAILED);

    sin.sin_family = AF_INET;
    sin.sin_port = htons(TIME_PORT);
    sin.sin_addr.s_addr = htonl(INADDR_ANY);

    // Every failure is reported and the run goes on: the final read always comes.
    sock = socket(AF_INET, SOCK_DGRAM, 0);
    std::printf(SERVER_SOCKET_OPEN, static_cast<int>(sock), TIME_PORT);
    if (sock == INVALID_SOCKET)
        std::printf(SERVER_SOCKET_FAILED, WSAGetLastError());

    if (bind(sock, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == SOCKET_ERROR)
        std::printf(SERVER_BIND_FAILED, TIME_PORT, WSAGetLastError());

    len = sizeof csin;
    n = cut_to_buffer(
        recvfrom(sock, buff, sizeof buff, 0, reinterpret_cast<sockaddr*>(&csin), &len),
        sizeof buff);
    if (n == SOCKET_ERROR) {
        // No request, so no requester to name or to answer.
        std::printf(SERVER_RECEIVE_FAILED, WSAGetLastError());
    } else {
        std::printf(SERVER_REQUEST_FROM, inet_ntoa(csin.sin_addr));
        // The clock is read once the request is in: the answer holds the time of answering.
        time(&ticks);
        reply = to_wire(ticks);
        sendto(sock, reinterpret_cast<const char*>(&reply), sizeof reply, 0,
               reinterpret_cast<sockaddr*>(&csin), sizeof csin);
    }

    // One request per run: the socket and the library end with the process.
    return std::getchar();
}
