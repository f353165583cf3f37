/* A learner's chat client with POSIX sockets, read() and close(), with one fault: its
 * source is saved in UTF-8, so its accented letters reach the console as two bytes each,
 * where the console's code page (CP850) has one. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

int main(void)
{
    struct sockaddr_in sin = {0};
    char texte[140];
    time_t timer;
    int sock, n;

    printf(" \n\n ------------Tp N 1 : Application de chat en r%cseau.------\n", 0x82);
    puts("-Claire Dubois\n-Marc Lambert");
    time(&timer);
    printf("\n\n=====CREATION DU CLIENT=========\n%s\n\n\n\n", ctime(&timer));
    sock = socket(AF_INET, SOCK_STREAM, 0);
    printf("Socket cr%ce,Mode TCP/IP. \n", 0x82);
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = inet_addr("127.0.0.1");
    sin.sin_port = htons(1609);
    if (connect(sock, (struct sockaddr*)&sin, sizeof(sin)) < 0) {
        printf("Impossible de se connecter.\n V%crifier si le serveur est en ligne\n", 0x82);
    } else {
        printf("Connecté au serveur!\nIp:%s  \nPort:%d \n", inet_ntoa(sin.sin_addr), ntohs(sin.sin_port));
        printf(" Attendez que le serveur puisse vous %ccrire....\n\n\n", 0x82);
        do {
            n = read(sock, texte, sizeof(texte));
            if (n > 0)
                printf("%s:> %.*s\n", ctime(&timer), n, texte);
            usleep(1000);
        } while (n > 0 && strncmp(texte, "bye", 3) != 0);
        printf("Fin de la discussion. \nBye!");
    }
    close(sock);
    getchar();
    return 0;
}
