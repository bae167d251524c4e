// The UDP socket and the daemon's one loop: datagrams in, the rules on every tick, the list out.
//
// Everything but the HTTP server runs on this thread, so the list's tables need no lock; the
// HTTP thread sees only the finished servers.txt that PublishList hands it.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "masterd_linux.h"

enum { RECEIVE_BATCH = 512, SOCKET_BUFFER = 4 << 20 };

static int udpSocket = -1;

uint64_t MonotonicMs(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (uint64_t)now.tv_sec * 1000 + (uint64_t)now.tv_nsec / 1000000 + 1;  // never 0
}

static void SendUdp(uint32_t ip, uint16_t port, const char *data, int32_t length) {
  struct sockaddr_in to;
  memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(ip);
  to.sin_port = htons(port);
  sendto(udpSocket, data, (size_t)length, MSG_DONTWAIT, (struct sockaddr *)&to,
         sizeof to);  // a full buffer drops it, as the network may
}

// A large receive buffer carries a burst of heartbeats, or of answers to a restart's checks.
int OpenUdpSocket(uint32_t bindIp, int32_t port, uint16_t *boundPort) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int size = SOCKET_BUFFER;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  struct sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(bindIp);
  address.sin_port = htons((uint16_t)port);
  socklen_t addressSize = sizeof address;
  if (bind(fd, (struct sockaddr *)&address, sizeof address) != 0 ||
      getsockname(fd, (struct sockaddr *)&address, &addressSize) != 0) {
    close(fd);
    return -1;
  }
  *boundPort = ntohs(address.sin_port);
  udpSocket = fd;
  SendDatagram = SendUdp;
  return fd;
}

// Reads what has arrived, at most a batch, so the ticks keep their pace under a flood.
static void ReceiveDatagrams(int fd) {
  static char data[RECEIVE_SIZE];
  for (int i = 0; i < RECEIVE_BATCH; i++) {
    struct sockaddr_in from;
    socklen_t fromSize = sizeof from;
    ssize_t length = recvfrom(fd, data, sizeof data, MSG_DONTWAIT, (struct sockaddr *)&from, &fromSize);
    if (length < 0) return;  // EAGAIN, or an error the next datagram does not share
    if (fromSize < sizeof from || from.sin_family != AF_INET) continue;
    HandleDatagram(ntohl(from.sin_addr.s_addr), ntohs(from.sin_port), data, (int32_t)length, MonotonicMs());
  }
}

// SIGINT and SIGTERM stay blocked except inside ppoll, so a signal is never lost between the
// check of stopRequested and the wait.
void RunUdpLoop(int fd) {
  sigset_t blocked, during;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  sigprocmask(SIG_BLOCK, &blocked, &during);
  sigdelset(&during, SIGINT);
  sigdelset(&during, SIGTERM);
  uint64_t nextTick = MonotonicMs();
  while (!stopRequested) {
    uint64_t now = MonotonicMs();
    if (now >= nextTick) {
      RunMasterRules(now);
      if (listChanged) PublishList();  // at most once a tick, however many changes came
      nextTick = now + TICK_MS;
    }
    struct pollfd wait = {fd, POLLIN, 0};
    int64_t left = (int64_t)(nextTick - MonotonicMs());
    struct timespec timeout = {0, (long)(left > 0 ? left : 0) * 1000000L};
    if (ppoll(&wait, 1, &timeout, &during) > 0) ReceiveDatagrams(fd);
  }
}
