// Hostile stand-ins for the update tests: a misbehaving HTTP master and answering game servers.
#include "hostile_master.h"

#include <stdio.h>
#include <string.h>

namespace {

enum {
  POLL_MS = 20,
  REQUEST_TIMEOUT_MS = 5000,
  REQUEST_HEAD_LIMIT = 16384,
  SEND_TIMEOUT_MS = 5000,
  DRAIN_MS = 2000,
  STOP_WAIT_MS = 5000,
  PIECE_SIZE = 65536
};

HostileMasterConfig master;
SOCKET listener = INVALID_SOCKET;
HANDLE masterThread;
HANDLE stopEvent;
DWORD masterStart;
uint16_t masterPort;
volatile LONG requests;
volatile LONG hanging;
volatile LONG clientGoneAt;
volatile LONG64 bodySent;

void StartWinsockOnce(void) {
  static bool started;
  if (started) return;
  WSADATA wsa;
  started = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
}

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

bool Stopping(void) { return WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0; }

bool MasterExpired(void) {
  DWORD lifetime = master.lifetimeMs ? master.lifetimeMs : HOSTILE_MASTER_LIFETIME_MS;
  return GetTickCount() - masterStart >= lifetime;
}

bool WaitReadable(SOCKET s, DWORD ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv = {(long)(ms / 1000), (long)(ms % 1000) * 1000};
  return select(0, &set, NULL, NULL, &tv) == 1;
}

void NoteClientGone(void) { InterlockedCompareExchange(&clientGoneAt, (LONG)(GetTickCount() | 1), 0); }

// The head up to its blank line, or false when it does not come in time.
bool ReadRequestHead(SOCKET s) {
  std::string head;
  DWORD start = GetTickCount();
  char buffer[2048];
  while (head.find("\r\n\r\n") == std::string::npos) {
    if (Stopping() || GetTickCount() - start > REQUEST_TIMEOUT_MS || head.size() > REQUEST_HEAD_LIMIT)
      return false;
    if (!WaitReadable(s, POLL_MS)) continue;
    int n = recv(s, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    head.append(buffer, (size_t)n);
  }
  InterlockedIncrement(&requests);
  return true;
}

// Waits until the client goes away or the server stops; a hanging master never answers.
void Hang(SOCKET s) {
  InterlockedExchange(&hanging, 1);
  char buffer[512];
  while (!Stopping() && !MasterExpired()) {
    if (!WaitReadable(s, POLL_MS)) continue;
    if (recv(s, buffer, sizeof buffer, 0) <= 0) {
      NoteClientGone();
      break;
    }
  }
  InterlockedExchange(&hanging, 0);
}

std::string ReplyHead(void) {
  uint64_t announced = master.announcedLength ? master.announcedLength : master.bodyLength;
  char head[256];
  snprintf(head, sizeof head,
           "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: %llu\r\nConnection: close\r\n\r\n",
           (unsigned long long)announced);
  return head;
}

// Appends the body bytes from offset on, at most count of them, from the repeated block.
void AppendBody(std::string *out, uint64_t offset, size_t count) {
  const std::string &block = master.block;
  if (block.empty()) return;
  while (count > 0) {
    size_t at = (size_t)(offset % block.size());
    size_t n = block.size() - at < count ? block.size() - at : count;
    out->append(block, at, n);
    offset += n;
    count -= n;
  }
}

bool SendAll(SOCKET s, const std::string &data) {
  const char *p = data.data();
  size_t left = data.size();
  while (left > 0) {
    int n = send(s, p, (int)left, 0);
    if (n <= 0) return false;
    p += n;
    left -= (size_t)n;
  }
  return true;
}

// The head and the first piece go out in one send, so a small body arrives in one segment.
// False when the client went away before the end.
bool SendBody(SOCKET s) {
  uint64_t end = master.closeAfter ? master.closeAfter : master.bodyLength;
  if (end > master.bodyLength) end = master.bodyLength;
  std::string piece = ReplyHead();
  uint64_t offset = 0;
  do {
    size_t count = end - offset < PIECE_SIZE ? (size_t)(end - offset) : PIECE_SIZE;
    AppendBody(&piece, offset, count);
    if (Stopping() || !SendAll(s, piece)) return false;
    offset += count;
    InterlockedExchange64(&bodySent, (LONG64)offset);
    piece.clear();
  } while (offset < end);
  return true;
}

// Our side is done; the client closes when it has what it wants, or the drain gives up.
void Drain(SOCKET s) {
  shutdown(s, SD_SEND);
  char buffer[4096];
  DWORD start = GetTickCount();
  while (!Stopping() && GetTickCount() - start < DRAIN_MS) {
    if (!WaitReadable(s, POLL_MS)) continue;
    if (recv(s, buffer, sizeof buffer, 0) <= 0) {
      NoteClientGone();
      break;
    }
  }
}

void ServeConnection(SOCKET s) {
  DWORD timeout = SEND_TIMEOUT_MS;
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, (const char *)&timeout, sizeof timeout);
  InterlockedExchange64(&bodySent, 0);
  InterlockedExchange(&clientGoneAt, 0);
  if (!ReadRequestHead(s)) {
    closesocket(s);
    return;
  }
  if (master.hang) {
    Hang(s);
  } else if (!SendBody(s)) {
    NoteClientGone();
  } else if (master.closeAfter == 0) {
    Drain(s);
  }
  closesocket(s);  // after a cut-off: the close comes while the client still waits for bytes
}

DWORD WINAPI ServeMaster(LPVOID) {
  while (!Stopping() && !MasterExpired()) {
    if (!WaitReadable(listener, POLL_MS)) continue;
    SOCKET s = accept(listener, NULL, NULL);
    if (s != INVALID_SOCKET) ServeConnection(s);
  }
  return 0;
}

// The first port of the range nothing else holds.
SOCKET ListenInRange(uint16_t *port) {
  for (int candidate = HOSTILE_MASTER_FIRST_PORT; candidate <= HOSTILE_MASTER_LAST_PORT; candidate++) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return s;
    sockaddr_in address = Loopback((uint16_t)candidate);
    if (bind(s, (sockaddr *)&address, sizeof address) == 0 && listen(s, 8) == 0) {
      *port = (uint16_t)candidate;
      return s;
    }
    closesocket(s);
  }
  return INVALID_SOCKET;
}

// --- game servers ---

SOCKET games[HOSTILE_GAMES_MAX];
uint16_t gamePorts[HOSTILE_GAMES_MAX];
int gameCount;
HANDLE gamesThread;
volatile LONG gamesStopping;
volatile LONG gameRequests;
DWORD gamesStart;

const char STATUS_REQUEST[] = "\xff\xff\xff\xffstatus";  // with its terminator: 11 bytes

void AnswerGame(int index) {
  char request[256];
  sockaddr_in from;
  int fromLength = sizeof from;
  int n = recvfrom(games[index], request, sizeof request, 0, (sockaddr *)&from, &fromLength);
  if (n != (int)sizeof STATUS_REQUEST || memcmp(request, STATUS_REQUEST, sizeof STATUS_REQUEST) != 0) return;
  InterlockedIncrement(&gameRequests);
  char reply[256];
  int length = snprintf(reply, sizeof reply,
                        "\xff\xff\xff\xffprint\n\\hostname\\Hostile Game %d\\mapname\\q2dm1\\maxclients\\8\n"
                        "%d 30 \"Player%d\"\n",
                        index + 1, index, index + 1);
  sendto(games[index], reply, length, 0, (sockaddr *)&from, fromLength);
}

DWORD WINAPI ServeGames(LPVOID) {
  while (!gamesStopping && GetTickCount() - gamesStart < HOSTILE_GAMES_LIFETIME_MS) {
    fd_set set;
    FD_ZERO(&set);
    for (int i = 0; i < gameCount; i++) FD_SET(games[i], &set);
    timeval tv = {0, POLL_MS * 1000};
    if (select(0, &set, NULL, NULL, &tv) <= 0) continue;
    for (int i = 0; i < gameCount; i++)
      if (FD_ISSET(games[i], &set)) AnswerGame(i);
  }
  return 0;
}

bool OpenGame(int index) {
  games[index] = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (games[index] == INVALID_SOCKET) return false;
  sockaddr_in address = Loopback(0);
  int length = sizeof address;
  if (bind(games[index], (sockaddr *)&address, sizeof address) != 0 ||
      getsockname(games[index], (sockaddr *)&address, &length) != 0) {
    closesocket(games[index]);
    games[index] = INVALID_SOCKET;
    return false;
  }
  gamePorts[index] = ntohs(address.sin_port);
  return true;
}

}  // namespace

HostileMasterConfig HostileBody(const std::string &body) {
  HostileMasterConfig config = {};
  config.block = body;
  config.bodyLength = body.size();
  return config;
}

bool StartHostileMaster(const HostileMasterConfig &config) {
  StopHostileMaster();
  StartWinsockOnce();
  master = config;
  requests = 0;
  hanging = 0;
  clientGoneAt = 0;
  bodySent = 0;
  listener = ListenInRange(&masterPort);
  if (listener == INVALID_SOCKET) return false;
  stopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  masterStart = GetTickCount();
  masterThread = CreateThread(NULL, 0, ServeMaster, NULL, 0, NULL);
  return masterThread != NULL;
}

void StopHostileMaster(void) {
  if (masterThread != NULL) {
    SetEvent(stopEvent);
    WaitForSingleObject(masterThread, STOP_WAIT_MS);
    CloseHandle(masterThread);
    masterThread = NULL;
  }
  if (listener != INVALID_SOCKET) closesocket(listener);
  listener = INVALID_SOCKET;
  if (stopEvent != NULL) CloseHandle(stopEvent);
  stopEvent = NULL;
}

std::string HostileMasterUrl(void) {
  char url[128];
  snprintf(url, sizeof url, "http://127.0.0.1:%u/servers.txt", (unsigned)masterPort);
  return url;
}

int HostileMasterRequests(void) { return (int)InterlockedCompareExchange(&requests, 0, 0); }

uint64_t HostileMasterBodySent(void) { return (uint64_t)InterlockedCompareExchange64(&bodySent, 0, 0); }

bool HostileMasterHanging(void) { return InterlockedCompareExchange(&hanging, 0, 0) != 0; }

DWORD HostileMasterClientGoneAt(void) { return (DWORD)InterlockedCompareExchange(&clientGoneAt, 0, 0); }

bool StartHostileGames(int count) {
  StopHostileGames();
  StartWinsockOnce();
  if (count > HOSTILE_GAMES_MAX) count = HOSTILE_GAMES_MAX;
  gamesStopping = 0;
  gameRequests = 0;
  for (gameCount = 0; gameCount < count; gameCount++)
    if (!OpenGame(gameCount)) return false;
  gamesStart = GetTickCount();
  gamesThread = CreateThread(NULL, 0, ServeGames, NULL, 0, NULL);
  return gamesThread != NULL;
}

void StopHostileGames(void) {
  InterlockedExchange(&gamesStopping, 1);
  if (gamesThread != NULL) {
    WaitForSingleObject(gamesThread, STOP_WAIT_MS);
    CloseHandle(gamesThread);
    gamesThread = NULL;
  }
  for (int i = 0; i < gameCount; i++)
    if (games[i] != INVALID_SOCKET) closesocket(games[i]);
  gameCount = 0;
}

uint16_t HostileGamePort(int index) { return index >= 0 && index < gameCount ? gamePorts[index] : 0; }

std::string HostileGameLines(int first, int count) {
  std::string lines;
  for (int i = first; i < first + count; i++)
    lines += "127.0.0.1:" + std::to_string(HostileGamePort(i)) + "\n";
  return lines;
}

int HostileGameRequests(void) { return (int)InterlockedCompareExchange(&gameRequests, 0, 0); }
