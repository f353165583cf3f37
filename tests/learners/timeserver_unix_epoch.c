/* A learner's time server with POSIX sockets, with one fault: it answers time() as it is,
 * seconds since 1970, where the time protocol counts from 1900. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

int main(void)
{
    struct sockaddr_in sin = {0}, csin = {0};
    socklen_t len = sizeof(csin);
    char buff[4096];
    uint32_t reply;
    int sock;

    sock = socket(AF_INET, SOCK_DGRAM, 0);
    printf("Le socket %d est maintenant ouvert en mode udpsur le prt %d /n", sock, 37);
    sin.sin_family = AF_INET;
    sin.sin_port = htons(37);
    sin.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(sock, (struct sockaddr*)&sin, sizeof(sin)) < 0)
        printf("Ne peut pas param\xE9trer le socket avec le num. de port %d: num\xE9ro d'erreur %d\n", 37, 10048);
    if (recvfrom(sock, buff, sizeof(buff), 0, (struct sockaddr*)&csin, &len) >= 0) {
        printf("le serveur \xE0 recu une demande de temps du client %s ", inet_ntoa(csin.sin_addr));
        reply = htonl((uint32_t)time(NULL));
        sendto(sock, &reply, sizeof(reply), 0, (struct sockaddr*)&csin, sizeof(csin));
    }
    close(sock);
    return getchar();
}
