/* A learner's chat server with POSIX sockets and write(), with two faults: it sends each line as
 * strlen bytes, not as a record of 140, and it never closes its sockets. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

int main(void)
{
    int sock, csock;
    struct sockaddr_in sin = {0}, csin = {0};
    socklen_t recsize = sizeof(csin);
    char texte[140];
    int lu;

    printf(" \n\n ------------Tp N 1 : Application de chat en r%cseau.------\n", 0x82);
    puts("-Claire Dubois\n-Marc Lambert");
    puts("\n\n=====CREATION DU SERVEUR=========\n\n\n\n");
    sock = socket(AF_INET, SOCK_STREAM, 0);
    printf("Socket num%cro: %d cr%ce en mode TCP/IP\n", 0x82, sock, 0x82);
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_ANY);
    sin.sin_port = htons(1609);
    if (bind(sock, (struct sockaddr*)&sin, sizeof(sin)) == 0) {
        listen(sock, 5);
        printf("\nEcoute sur le port %d...\n", 1609);
        printf("\nAttente d'un client sur le port %d...\n", 1609);
        csock = accept(sock, (struct sockaddr*)&csin, &recsize);
        printf("\n\nUn nouveau client vient de se connecter avec le socket %d de %s:%d\n", csock,
               inet_ntoa(csin.sin_addr), ntohs(csin.sin_port));
        puts(" Entrez un message pour discuter avec lui \n\nPour quitter la conversation tapez \"bye\" ");
        do {
            printf("\n> ");
            lu = fgets(texte, sizeof(texte), stdin) != NULL;
            if (lu) {
                if (write(csock, texte, strlen(texte)) < 0)
                    printf("/! Msg non envoy%c. V%crifer si le client est connect%c \n", 0x82, 0x82, 0x82);
                else
                    printf("(Msg envoy%c)\n", 0x82);
            }
            sleep(1);
        } while (lu && strncmp(texte, "bye", 3) != 0);
    }
    printf("\nVous avez arret%c la discussion\nFermeture du socket...\n", 0x82);
    printf("Fermeture du serveur termin%ce\n", 0x82);
    getchar();
    return 0;
}
