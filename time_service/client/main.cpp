// timeclient: asks the time server on 127.0.0.1, UDP port 37, for the time (RFC 868) and
// prints the answer as local calendar time.
#include "platform/winsock.hpp"
#include "time_service/common.hpp"

#include <cstdint>

using namespace time_service;

int main()
{
    WSADATA wsadata;
    SOCKET sock;
    sockaddr_in sin{};
    int len;
    int n;
    std::uint32_t reply = 0;
    time32 now;

    if (WSAStartup(MAKEWORD(2, 2), &wsadata) != 0)
        std::puts(STARTUP_FAILED);

    sock = socket(AF_INET, SOCK_DGRAM, 0);
    if (sock == INVALID_SOCKET)
        std::printf(CLIENT_SOCKET_FAILED, WSAGetLastError());

    sin.sin_family = AF_INET;
    sin.sin_port = htons(TIME_PORT);
    sin.sin_addr.s_addr = inet_addr(SERVER_ADDR);

    // The request is an empty datagram; sending it gives the socket its local port.
    sendto(sock, nullptr, 0, 0, reinterpret_cast<sockaddr*>(&sin), sizeof sin);

    // The first datagram from anyone is the answer. A calendar line comes only from a
    // whole one: a short answer is a failed receive (it holds no socket error, hence 0).
    len = sizeof sin;
    n = cut_to_buffer(recvfrom(sock, reinterpret_cast<char*>(&reply), sizeof reply, 0,
                               reinterpret_cast<sockaddr*>(&sin), &len),
                      sizeof reply);
    if (n != sizeof reply) {
        std::printf(CLIENT_RECEIVE_FAILED, n == SOCKET_ERROR ? WSAGetLastError() : 0);
    } else {
        now = from_wire(reply);
        std::printf(CLIENT_CALENDAR, ctime(&now));
    }

    WSACleanup();
    return std::getchar();
}
