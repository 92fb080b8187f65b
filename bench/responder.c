/* The floor of the console benchmark: the least a loopback responder can do.
 * TCP: accept, read one request, answer a fixed reply, close when the peer
 * does. UDP: answer every datagram with a 48-byte reply. One thread, poll().
 *
 *   responder TCPPORT UDPPORT
 */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#define MAX_FDS 1024

static int open_socket(int type, int port)
{
    int fd = socket(AF_INET, type, 0), one = 1;
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons((unsigned short)port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, (struct sockaddr*)&sa, sizeof sa) != 0) {
        perror("bind");
        exit(1);
    }
    if (type == SOCK_STREAM)
        listen(fd, 1024);
    return fd;
}

int main(int argc, char** argv)
{
    static const char reply[] = "OK-T 2026-12-04 9:05:07.045";
    struct pollfd fds[MAX_FDS];
    int n = 2;
    char buf[2048];
    if (argc < 3)
        return 2;
    fds[0].fd = open_socket(SOCK_STREAM, atoi(argv[1]));
    fds[1].fd = open_socket(SOCK_DGRAM, atoi(argv[2]));
    fds[0].events = fds[1].events = POLLIN;
    for (;;) {
        if (poll(fds, (nfds_t)n, -1) < 0)
            continue;
        if (fds[0].revents & POLLIN) {
            int c = accept(fds[0].fd, NULL, NULL);
            if (c >= 0 && n < MAX_FDS) {
                fds[n].fd = c;
                fds[n].events = POLLIN;
                fds[n++].revents = 0;
            } else if (c >= 0) {
                close(c);
            }
        }
        if (fds[1].revents & POLLIN) {
            struct sockaddr_in from;
            socklen_t len = sizeof from;
            ssize_t got = recvfrom(fds[1].fd, buf, sizeof buf, 0, (struct sockaddr*)&from, &len);
            if (got > 0) {
                char out[48] = "OK-H";
                sendto(fds[1].fd, out, sizeof out, 0, (struct sockaddr*)&from, len);
            }
        }
        for (int i = 2; i < n; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t got = read(fds[i].fd, buf, sizeof buf);
            if (got > 0) {
                if (write(fds[i].fd, reply, sizeof reply - 1) < 0)
                    got = 0;
            }
            if (got <= 0) {
                close(fds[i].fd);
                fds[i--] = fds[--n];
            }
        }
    }
}
