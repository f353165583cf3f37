/* A learner's chat client, written for Windows, with one fault: its source is saved in
 * UTF-8, so its accented letters reach the console as two bytes each, where the console's
 * code page (CP850) has one. */
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <winsock2.h>
#pragma comment(lib, "ws2_32.lib")

int main(void)
{
    WSADATA WSAData;
    SOCKET sock;
    SOCKADDR_IN sin;
    char texte[140];
    time_t timer;
    int n;

    WSAStartup(MAKEWORD(2, 2), &WSAData);
    printf(" \n\n ------------Tp N 1 : Application de chat en r%cseau.------\n", 0x82);
    puts("-Claire Dubois\n-Marc Lambert");
    time(&timer);
    printf("\n\n=====CREATION DU CLIENT=========\n%s\n\n\n\n", ctime(&timer));
    sock = socket(AF_INET, SOCK_STREAM, 0);
    printf("Socket cr%ce,Mode TCP/IP. \n", 0x82);
    memset(&sin, 0, sizeof(sin));
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = inet_addr("127.0.0.1");
    sin.sin_port = htons(1609);
    if (connect(sock, (SOCKADDR*)&sin, sizeof(sin)) == SOCKET_ERROR) {
        printf("Impossible de se connecter.\n V%crifier si le serveur est en ligne\n", 0x82);
    } else {
        printf("Connecté au serveur!\nIp:%s  \nPort:%d \n", inet_ntoa(sin.sin_addr), ntohs(sin.sin_port));
        printf(" Attendez que le serveur puisse vous %ccrire....\n\n\n", 0x82);
        do {
            n = recv(sock, texte, sizeof(texte), 0);
            if (n > 0)
                printf("%s:> %.*s\n", ctime(&timer), n, texte);
            Sleep(1);
        } while (n > 0 && strncmp(texte, "bye", 3) != 0);
        printf("Fin de la discussion. \nBye!");
    }
    closesocket(sock);
    WSACleanup();
    getchar();
    return 0;
}
