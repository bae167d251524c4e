// In-process fake game servers for the query tests and the query benchmark.
#include "query_fake_server.h"

#include <stdio.h>
#include <string.h>

#include <mmsystem.h>

enum { OVERSIZE_LENGTH = 5000, GARBAGE_LENGTH = 4096, POLL_MS = 20 };

static const char STATUS_REQUEST[11] = {'\xff', '\xff', '\xff', '\xff', 's', 't', 'a', 't', 'u', 's', '\0'};

void StartWinsockForTests(void) {
  static bool started = false;
  if (started) return;
  WSADATA data;
  started = WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

void InitFakeServer(FakeServer *server) {
  memset(server, 0, sizeof *server);
  server->laterAction = FAKE_REPLY;
  server->lifetimeMs = FAKE_DEFAULT_LIFETIME_MS;
  server->socket = INVALID_SOCKET;
  SetFakeReply(server, "\\hostname\\Fake\\mapname\\q2dm1\\maxclients\\8", "");
}

void SetFakeReply(FakeServer *server, const char *serverInfo, const char *playerLines) {
  static const char header[] =
      "\xff\xff\xff\xff"
      "print\n";
  int n = snprintf(server->reply, sizeof server->reply, "%s%s\n%s", header, serverInfo, playerLines);
  server->replyLength = n < 0 ? 0 : (n >= (int)sizeof server->reply ? (int)sizeof server->reply - 1 : n);
}

static int ActionFor(const FakeServer *server, LONG requestNumber) {
  if (requestNumber <= server->scriptLength) return server->script[requestNumber - 1];
  return server->laterAction;
}

// Waits until the delay after `arrival` has passed: a coarse sleep, then a short spin, so the
// answer leaves within a fraction of a millisecond of its time.
static void WaitUntilDelay(LARGE_INTEGER arrival, DWORD delayMs, LARGE_INTEGER frequency) {
  LONGLONG due = arrival.QuadPart + frequency.QuadPart * (LONGLONG)delayMs / 1000;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  LONGLONG leftMs = (due - now.QuadPart) * 1000 / frequency.QuadPart;
  if (leftMs > 3) Sleep((DWORD)(leftMs - 2));
  do {
    QueryPerformanceCounter(&now);
  } while (now.QuadPart < due);
}

static void SendAction(FakeServer *server, int action, const sockaddr_in *to) {
  char noise[GARBAGE_LENGTH];
  char oversize[OVERSIZE_LENGTH];
  const char *bytes = server->reply;
  int length = server->replyLength;
  if (action == FAKE_OVERSIZE) {
    memset(oversize, 'x', sizeof oversize);
    memcpy(oversize, server->reply, (size_t)(server->replyLength < 100 ? server->replyLength : 100));
    bytes = oversize;
    length = OVERSIZE_LENGTH;
  } else if (action == FAKE_EMPTY) {
    length = 0;
  } else if (action == FAKE_GARBAGE) {
    uint32_t seed = 12345;
    for (int i = 0; i < GARBAGE_LENGTH; i++) noise[i] = (char)((seed = seed * 1664525u + 1013904223u) >> 24);
    bytes = noise;
    length = GARBAGE_LENGTH;
  }
  sendto(server->socket, bytes, length, 0, (const sockaddr *)to, sizeof *to);
}

static void HandleRequest(FakeServer *server, const char *data, int length, const sockaddr_in *from,
                          LARGE_INTEGER arrival, LARGE_INTEGER frequency) {
  LONG number = InterlockedIncrement(&server->requests);
  if (length != (int)sizeof STATUS_REQUEST || memcmp(data, STATUS_REQUEST, sizeof STATUS_REQUEST) != 0) {
    InterlockedIncrement(&server->wrongRequests);
  }
  if (number <= FAKE_LOG_SIZE) server->requestTimes[number - 1] = timeGetTime();
  int action = ActionFor(server, number);
  if (action == FAKE_IGNORE) return;
  WaitUntilDelay(arrival, server->delayMs, frequency);
  SendAction(server, action, from);
  LARGE_INTEGER sent;
  QueryPerformanceCounter(&sent);
  if (number <= FAKE_LOG_SIZE) {
    double ticks = (double)(sent.QuadPart - arrival.QuadPart);
    server->replyDelayMs[number - 1] = ticks * 1000.0 / (double)frequency.QuadPart;
  }
}

static DWORD WINAPI ServeRequests(LPVOID param) {
  FakeServer *server = (FakeServer *)param;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  DWORD start = GetTickCount();
  char data[64];
  while (server->stopping == 0 && GetTickCount() - start < server->lifetimeMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(server->socket, &readable);
    timeval wait = {0, POLL_MS * 1000};
    if (select(0, &readable, NULL, NULL, &wait) <= 0) continue;
    sockaddr_in from;
    int fromLength = sizeof from;
    int length = recvfrom(server->socket, data, sizeof data, 0, (sockaddr *)&from, &fromLength);
    LARGE_INTEGER arrival;
    QueryPerformanceCounter(&arrival);
    if (length == SOCKET_ERROR) continue;
    HandleRequest(server, data, length, &from, arrival, frequency);
  }
  return 0;
}

static SOCKET BindLoopback(uint16_t *port) {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return s;
  sockaddr_in local = {};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = inet_addr("127.0.0.1");
  local.sin_port = 0;
  int length = sizeof local;
  if (bind(s, (sockaddr *)&local, sizeof local) == SOCKET_ERROR ||
      getsockname(s, (sockaddr *)&local, &length) == SOCKET_ERROR) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  *port = ntohs(local.sin_port);
  return s;
}

bool StartFakeServer(FakeServer *server) {
  StartWinsockForTests();
  server->socket = BindLoopback(&server->port);
  if (server->socket == INVALID_SOCKET) return false;
  server->stopping = 0;
  server->thread = CreateThread(NULL, 0, ServeRequests, server, 0, NULL);
  if (server->thread == NULL) {
    closesocket(server->socket);
    server->socket = INVALID_SOCKET;
    return false;
  }
  return true;
}

void StopFakeServer(FakeServer *server) {
  InterlockedExchange(&server->stopping, 1);
  if (server->thread != NULL) {
    WaitForSingleObject(server->thread, 2000);
    CloseHandle(server->thread);
    server->thread = NULL;
  }
  if (server->socket != INVALID_SOCKET) {
    closesocket(server->socket);
    server->socket = INVALID_SOCKET;
  }
}

uint16_t ClosedUdpPort(void) {
  StartWinsockForTests();
  uint16_t port = 0;
  SOCKET s = BindLoopback(&port);
  if (s != INVALID_SOCKET) closesocket(s);
  return port;
}
