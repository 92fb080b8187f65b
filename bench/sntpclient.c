/* The SNTP client of the benchmarks: sends COUNT requests to 127.0.0.1:PORT
 * with up to WINDOW of them unanswered (1: one after the other) and prints
 * one line: replies per second, p50 and p99 latency in microseconds, lost.
 *
 * Each request is what a real client sends: version 4, mode 3, and the
 * current NTP time as transmit timestamp (so its first byte is not 0). The
 * low 32 bits carry the request's number, which the server echoes back as
 * the originate timestamp; that is how replies meet their requests.
 *
 *   sntpclient PORT COUNT WINDOW
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#define NTP_DELTA 2208988800u
#define TIMEOUT_MS 200

static double now_s(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static int cmp(const void* a, const void* b)
{
    double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

int main(int argc, char** argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: sntpclient PORT COUNT WINDOW\n");
        return 2;
    }
    const int port = atoi(argv[1]), count = atoi(argv[2]);
    int window = atoi(argv[3]);
    if (count <= 0 || window <= 0)
        return 2;
    double* sent_at = calloc((size_t)count, sizeof *sent_at); /* 0: not out, or answered */
    double* lat = calloc((size_t)count, sizeof *lat);
    int* out = calloc((size_t)count, sizeof *out); /* ids still outstanding, in order */
    int fd = socket(AF_INET, SOCK_DGRAM, 0), rcvbuf = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    struct sockaddr_in to;
    memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons((unsigned short)port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, (struct sockaddr*)&to, sizeof to) != 0) {
        perror("connect");
        return 1;
    }

    int next = 0, answered = 0, lost = 0, head = 0, tail = 0, inflight = 0;
    const double start = now_s();
    while (next < count || inflight > 0) {
        while (next < count && inflight < window) {
            unsigned char req[48] = {0x23};
            struct timespec wall;
            clock_gettime(CLOCK_REALTIME, &wall);
            const uint32_t secs = htonl((uint32_t)wall.tv_sec + NTP_DELTA);
            const uint32_t id = htonl((uint32_t)next);
            memcpy(req + 40, &secs, 4);
            memcpy(req + 44, &id, 4);
            sent_at[next] = now_s();
            if (send(fd, req, sizeof req, 0) == (ssize_t)sizeof req) {
                out[tail++] = next;
                ++inflight;
            } else {
                ++lost;
            }
            ++next;
        }
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, TIMEOUT_MS) <= 0) {
            /* Whatever is still out after the timeout is lost. */
            for (; head < tail; ++head)
                if (sent_at[out[head]] > 0) {
                    sent_at[out[head]] = 0;
                    ++lost;
                }
            inflight = 0;
            continue;
        }
        unsigned char reply[512];
        ssize_t got;
        while ((got = recv(fd, reply, sizeof reply, MSG_DONTWAIT)) > 0) {
            uint32_t id;
            if (got < 48)
                continue;
            memcpy(&id, reply + 28, 4);
            id = ntohl(id);
            if (id < (uint32_t)count && sent_at[id] > 0) {
                lat[answered++] = now_s() - sent_at[id];
                sent_at[id] = 0;
                --inflight;
            }
        }
        while (head < tail && sent_at[out[head]] == 0)
            ++head;
    }
    const double elapsed = now_s() - start;
    qsort(lat, (size_t)answered, sizeof *lat, cmp);
    const double p50 = answered ? lat[answered * 50 / 100] : 0;
    const double p99 = answered ? lat[answered * 99 / 100] : 0;
    printf("%.0f %.1f %.1f %d\n", answered / elapsed, p50 * 1e6, p99 * 1e6, lost);
    return 0;
}
