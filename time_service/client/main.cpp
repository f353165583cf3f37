// timeclient [SERVER]: asks the time server (127.0.0.1 unless named), UDP port 37, for the
// time (RFC 868) and prints the answer as local calendar time.
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
    addrinfo hints{};
    addrinfo* found = nullptr;
    sockaddr_in sin{};
    DWORD wait_ms = ANSWER_WAIT_MS;
    int requests = 1;
    int len;
    int n;
    std::uint32_t reply = 0;
    time32 now;

    use = use_of(argc, argv, 1);
    if (use == Use::Help) {
        std::printf(CLIENT_USAGE);
        std::printf(CLIENT_ABOUT);
        return 0;
    }
    if (use == Use::Wrong) {
        std::fprintf(stderr, CLIENT_USAGE);
        return EXIT_WRONG_USE;
    }

    if (WSAStartup(MAKEWORD(2, 2), &wsadata) != 0)
        std::puts(STARTUP_FAILED);

    sock = socket(AF_INET, SOCK_DGRAM, 0);
    if (sock == INVALID_SOCKET)
        std::printf(CLIENT_SOCKET_FAILED, WSAGetLastError());

    sin.sin_family = AF_INET;
    sin.sin_port = htons(TIME_PORT);
    sin.sin_addr.s_addr = inet_addr(SERVER_ADDR);
    // A server named on the command line: its first IPv4 address. Nothing is sent to a
    // server that cannot be found.
    if (use == Use::Server) {
        hints.ai_family = AF_INET;
        if (getaddrinfo(argv[1], nullptr, &hints, &found) != 0) {
            std::printf(CLIENT_LOOKUP_FAILED, argv[1], WSAGetLastError());
            goto liberation;
        }
        sin.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        freeaddrinfo(found);
        // Far away, a request or its answer may be lost: each wait has an end, and the
        // request goes again.
        setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait_ms),
                   sizeof wait_ms);
        requests = REQUESTS;
    }

    // The request is an empty datagram; sending it gives the socket its local port.
    // The first datagram from anyone is the answer. A calendar line comes only from a
    // whole one: a short answer is a failed receive (it holds no socket error, hence 0).
    do {
        sendto(sock, nullptr, 0, 0, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
        len = sizeof sin;
        n = cut_to_buffer(recvfrom(sock, reinterpret_cast<char*>(&reply), sizeof reply, 0,
                                   reinterpret_cast<sockaddr*>(&sin), &len),
                          sizeof reply);
    } while (n == SOCKET_ERROR && WSAGetLastError() == WSAETIMEDOUT && --requests > 0);
    if (n != sizeof reply) {
        std::printf(CLIENT_RECEIVE_FAILED, n == SOCKET_ERROR ? WSAGetLastError() : 0);
    } else {
        now = from_wire(reply);
        std::printf(CLIENT_CALENDAR, ctime(&now));
    }

liberation:
    WSACleanup();
    return std::getchar();
}
