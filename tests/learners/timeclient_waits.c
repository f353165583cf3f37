/* A learner's time client with POSIX sockets and getaddrinfo, with one fault: it waits for
 * an answer for ever. Where nothing listens on port 37, Winsock reports the refusal
 * (10054) to the receive; on Linux an unconnected socket is not told, so this one hangs. */
#include <arpa/inet.h>
#include <netdb.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

int main(void)
{
    struct addrinfo hints, *found;
    struct sockaddr_in sin;
    socklen_t len = sizeof(sin);
    uint32_t reply = 0;
    time_t now;
    int sock, n;

    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    getaddrinfo("127.0.0.1", "37", &hints, &found);
    memcpy(&sin, found->ai_addr, sizeof(sin));
    freeaddrinfo(found);
    sock = socket(AF_INET, SOCK_DGRAM, 0);
    sendto(sock, NULL, 0, 0, (struct sockaddr*)&sin, sizeof(sin));
    n = recvfrom(sock, &reply, sizeof(reply), 0, (struct sockaddr*)&sin, &len);
    if (n != sizeof(reply)) {
        printf("La r\xE9" "ception a \xE9" "chou\xE9: num\xE9ro d'erreur %d\n", 0);
    } else {
        now = (time_t)(ntohl(reply) - 2208988800U);
        printf("%s", ctime(&now));
    }
    close(sock);
    return getchar();
}
