/* A learner's chat server, written for Windows, with one fault: the port is given in the
 * machine's byte order (no htons), so the server listens on 18694 instead of 1609. */
#include <stdio.h>
#include <string.h>
#include <winsock2.h>
#pragma comment(lib, "ws2_32.lib")

#define PORT 1609

int main(void)
{
    WSADATA WSAData;
    SOCKET sock, csock;
    SOCKADDR_IN sin, csin;
    int recsize = sizeof(csin);
    char texte[140];
    int lu;

    WSAStartup(MAKEWORD(2, 2), &WSAData);
    printf(" \n\n ------------Tp N 1 : Application de chat en r%cseau.------\n", 0x82);
    puts("-Claire Dubois\n-Marc Lambert");
    puts("\n\n=====CREATION DU SERVEUR=========\n\n\n\n");
    sock = socket(AF_INET, SOCK_STREAM, 0);
    printf("Socket num%cro: %d cr%ce en mode TCP/IP\n", 0x82, (int)sock, 0x82);
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_ANY);
    sin.sin_port = PORT;
    if (bind(sock, (SOCKADDR*)&sin, sizeof(sin)) != SOCKET_ERROR) {
        listen(sock, 5);
        printf("\nEcoute sur le port %d...\n", PORT);
        printf("\nAttente d'un client sur le port %d...\n", PORT);
        csock = accept(sock, (SOCKADDR*)&csin, &recsize);
        printf("\n\nUn nouveau client vient de se connecter avec le socket %d de %s:%d\n",
               (int)csock, inet_ntoa(csin.sin_addr), ntohs(csin.sin_port));
        puts(" Entrez un message pour discuter avec lui \n\nPour quitter la conversation tapez \"bye\" ");
        do {
            printf("\n> ");
            memset(texte, 0, sizeof(texte));
            lu = fgets(texte, sizeof(texte), stdin) != NULL;
            if (lu) {
                if (send(csock, texte, sizeof(texte), 0) == SOCKET_ERROR)
                    printf("/! Msg non envoy%c. V%crifer si le client est connect%c \n", 0x82, 0x82, 0x82);
                else
                    printf("(Msg envoy%c)\n", 0x82);
            }
            Sleep(1000);
        } while (lu && strncmp(texte, "bye", 3) != 0);
        shutdown(csock, SD_BOTH);
    }
    printf("\nVous avez arret%c la discussion\nFermeture du socket...\n", 0x82);
    closesocket(sock);
    printf("Fermeture du serveur termin%ce\n", 0x82);
    WSACleanup();
    getchar();
    return 0;
}
