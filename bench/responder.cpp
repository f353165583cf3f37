// The least RFC 868 time responder: one UDP socket on port 37, one request, one answer.
// It is the yardstick of the time server's latency: nothing but the calls it must make.
// With --say, it also writes one console line before answering, as the time server does.
#include <arpa/inet.h>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    const bool say = argc > 1 && std::strcmp(argv[1], "--say") == 0;
    const int sock = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(37);
    if (bind(sock, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0)
        return 1;
    char request[4096];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    if (recvfrom(sock, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from), &len) < 0)
        return 1;
    if (say) {
        static const char line[] = "le serveur a recu une demande de temps du client 127.0.0.1 ";
        if (write(STDOUT_FILENO, line, sizeof line - 1) < 0)
            return 1;
    }
    const std::uint32_t reply = htonl(static_cast<std::uint32_t>(std::time(nullptr)) + 2208988800U);
    sendto(sock, &reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), len);
    return 0;
}
