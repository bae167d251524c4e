// In-process game servers for the update tests: one thread answers every socket.
#include "master_games.h"

#include <stdio.h>
#include <string.h>

namespace {

enum { POLL_MS = 50, STOP_WAIT_MS = 3000 };

SOCKET sockets[MASTER_GAMES_MAX];
uint16_t ports[MASTER_GAMES_MAX];
int gameCount;
int answeringCount;
HANDLE thread;
volatile LONG stopping;
volatile LONG requestCount;
DWORD startTick;

const char STATUS_REQUEST[] = "\xff\xff\xff\xffstatus";  // and its terminator: 11 bytes

void Answer(int index) {
  char request[2048];
  sockaddr_in from;
  int fromLength = sizeof from;
  int n = recvfrom(sockets[index], request, sizeof request, 0, (sockaddr *)&from, &fromLength);
  if (n != (int)sizeof STATUS_REQUEST || memcmp(request, STATUS_REQUEST, sizeof STATUS_REQUEST) != 0) return;
  InterlockedIncrement(&requestCount);
  if (index >= answeringCount) return;
  char reply[512];
  int length = snprintf(reply, sizeof reply,
                        "\xff\xff\xff\xffprint\n\\hostname\\Master Game %d\\mapname\\q2dm%d"
                        "\\maxclients\\8\n%d 40 \"Player%d\"\n",
                        index + 1, index + 1, index, index + 1);
  sendto(sockets[index], reply, length, 0, (sockaddr *)&from, fromLength);
}

DWORD WINAPI ServeGames(LPVOID) {
  while (!stopping && GetTickCount() - startTick < MASTER_GAMES_LIFETIME_MS) {
    fd_set set;
    FD_ZERO(&set);
    for (int i = 0; i < gameCount; i++) FD_SET(sockets[i], &set);
    timeval tv = {0, POLL_MS * 1000};
    if (select(0, &set, NULL, NULL, &tv) <= 0) continue;
    for (int i = 0; i < gameCount; i++)
      if (FD_ISSET(sockets[i], &set)) Answer(i);
  }
  return 0;
}

bool OpenGame(int index) {
  sockets[index] = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (sockets[index] == INVALID_SOCKET) return false;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (bind(sockets[index], (sockaddr *)&address, sizeof address) != 0 ||
      getsockname(sockets[index], (sockaddr *)&address, &length) != 0) {
    closesocket(sockets[index]);
    return false;
  }
  ports[index] = ntohs(address.sin_port);
  return true;
}

}  // namespace

bool StartMasterGames(int answering, int silent) {
  StopMasterGames();
  WSADATA wsa;
  WSAStartup(MAKEWORD(1, 1), &wsa);
  int count = answering + silent;
  if (count > MASTER_GAMES_MAX) count = MASTER_GAMES_MAX;
  answeringCount = answering;
  stopping = 0;
  requestCount = 0;
  for (gameCount = 0; gameCount < count; gameCount++)
    if (!OpenGame(gameCount)) return false;
  startTick = GetTickCount();
  thread = CreateThread(NULL, 0, ServeGames, NULL, 0, NULL);
  return thread != NULL;
}

void StopMasterGames(void) {
  if (thread != NULL) {
    InterlockedExchange(&stopping, 1);
    WaitForSingleObject(thread, STOP_WAIT_MS);
    CloseHandle(thread);
    thread = NULL;
  }
  for (int i = 0; i < gameCount; i++)
    if (sockets[i] != INVALID_SOCKET) closesocket(sockets[i]);
  gameCount = 0;
}

uint16_t MasterGamePort(int index) { return index >= 0 && index < gameCount ? ports[index] : 0; }

std::string MasterGameList(int first, int count) {
  std::string list;
  char line[64];
  for (int i = first; i < first + count && i < gameCount; i++) {
    snprintf(line, sizeof line, "127.0.0.1:%u\n", (unsigned)ports[i]);
    list += line;
  }
  return list;
}

int MasterGameRequests(void) { return (int)InterlockedCompareExchange(&requestCount, 0, 0); }
