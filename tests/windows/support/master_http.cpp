// In-process HTTP master for the update tests: serves /servers.txt well or in a broken way.
#include "master_http.h"

#include <stdio.h>
#include <string.h>

namespace {

enum {
  POLL_MS = 20,
  REQUEST_TIMEOUT_MS = 5000,
  REQUEST_HEAD_LIMIT = 16384,
  SEND_TIMEOUT_MS = 10000,
  DRAIN_MS = 2000,
  STOP_WAIT_MS = 5000,
  DEFAULT_PIECE_SIZE = 65536
};

struct Master {
  FakeMasterConfig config;
  SOCKET listener;
  HANDLE thread;
  HANDLE stopEvent;
  DWORD startTick;
  uint16_t port;
  volatile LONG requests;
  volatile LONG hanging;
  volatile LONG clientGoneAt;
  volatile LONG64 bodySent;
};

Master masters[FAKE_MASTERS];  // their listeners are made invalid by StartOnce
HANDLE releaseEvent;           // one for all masters: only the first is ever held
volatile LONG holding;
volatile LONG holds;
CRITICAL_SECTION lock;  // the recorded request texts
bool lockReady;
std::string lastPath, lastUserAgent, lastCacheHeaders;

Master *Slot(int master) { return &masters[master > 0 && master < FAKE_MASTERS ? master : 0]; }

bool Stopping(Master *m) { return WaitForSingleObject(m->stopEvent, 0) == WAIT_OBJECT_0; }

bool Expired(Master *m) { return GetTickCount() - m->startTick >= FAKE_MASTER_LIFETIME_MS; }

bool WaitReadable(SOCKET s, DWORD ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv = {(long)(ms / 1000), (long)(ms % 1000) * 1000};
  return select(0, &set, NULL, NULL, &tv) == 1;
}

void NoteClientGone(Master *m) {
  InterlockedCompareExchange(&m->clientGoneAt, (LONG)(GetTickCount() | 1), 0);
}

// The head up to the blank line, or false when it does not come in time.
bool ReadRequestHead(Master *m, SOCKET s, std::string *head) {
  DWORD start = GetTickCount();
  char buffer[2048];
  while (head->find("\r\n\r\n") == std::string::npos) {
    if (Stopping(m) || GetTickCount() - start > REQUEST_TIMEOUT_MS || head->size() > REQUEST_HEAD_LIMIT)
      return false;
    if (!WaitReadable(s, POLL_MS)) continue;
    int n = recv(s, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    head->append(buffer, (size_t)n);
  }
  return true;
}

bool StartsWithNoCase(const std::string &line, const char *prefix) {
  return _strnicmp(line.c_str(), prefix, strlen(prefix)) == 0;
}

std::string HeaderValue(const std::string &line) {
  size_t colon = line.find(':');
  size_t start = line.find_first_not_of(' ', colon + 1);
  return start == std::string::npos ? std::string() : line.substr(start);
}

void RecordRequest(Master *m, const std::string &head) {
  std::string path, agent, cache;
  size_t lineStart = 0;
  for (int index = 0; lineStart < head.size(); index++) {
    size_t end = head.find("\r\n", lineStart);
    if (end == std::string::npos || end == lineStart) break;
    std::string line = head.substr(lineStart, end - lineStart);
    lineStart = end + 2;
    if (index == 0) {
      size_t space = line.find(' ');
      path = line.substr(space + 1, line.find(' ', space + 1) - space - 1);
    } else if (StartsWithNoCase(line, "User-Agent:")) {
      agent = HeaderValue(line);
    } else if (StartsWithNoCase(line, "Cache-Control:") || StartsWithNoCase(line, "Pragma:") ||
               StartsWithNoCase(line, "If-Modified-Since:") || StartsWithNoCase(line, "If-None-Match:")) {
      cache += line + "\n";
    }
  }
  EnterCriticalSection(&lock);
  lastPath = path;
  lastUserAgent = agent;
  lastCacheHeaders = cache;
  LeaveCriticalSection(&lock);
  InterlockedIncrement(&m->requests);
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

// A held reply waits for the test, for the stop, or for the hold limit, whichever comes first.
void Hold(Master *m) {
  HANDLE events[2] = {releaseEvent, m->stopEvent};
  InterlockedIncrement(&holds);
  InterlockedExchange(&holding, 1);
  WaitForMultipleObjects(2, events, FALSE, FAKE_MASTER_HOLD_LIMIT_MS);
  InterlockedExchange(&holding, 0);
}

// Waits until the client goes away or the master stops; a hanging master never answers.
void Hang(Master *m, SOCKET s) {
  InterlockedExchange(&m->hanging, 1);
  char buffer[512];
  while (!Stopping(m) && !Expired(m)) {
    if (!WaitReadable(s, POLL_MS)) continue;
    if (recv(s, buffer, sizeof buffer, 0) <= 0) {
      NoteClientGone(m);
      break;
    }
  }
  InterlockedExchange(&m->hanging, 0);
}

const char *NOT_FOUND_PAGE =
    "<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head>\n"
    "<body><h1>Not Found</h1><p>The requested URL was not found on this server.</p></body></html>\n";

// The body's text: the configured one, the 404 page, or nothing.
const std::string &BodyText(Master *m) {
  static const std::string empty, notFound = NOT_FOUND_PAGE;
  if (m->config.mode == MASTER_SERVE_404) return notFound;
  return m->config.mode == MASTER_SERVE_LIST ? m->config.body : empty;
}

uint64_t BodyLength(Master *m) {
  if (m->config.mode == MASTER_SERVE_LIST && m->config.bodyLength) return m->config.bodyLength;
  return BodyText(m).size();
}

std::string ReplyHead(Master *m) {
  bool html = m->config.mode == MASTER_SERVE_404;
  char head[256];
  snprintf(head, sizeof head,
           "HTTP/1.1 %s\r\nContent-Type: %s\r\nContent-Length: %llu\r\nConnection: close\r\n\r\n",
           html ? "404 Not Found" : "200 OK", html ? "text/html" : "text/plain",
           (unsigned long long)BodyLength(m));
  return head;
}

// Appends the body bytes from offset on, at most count of them, from the repeated text.
void AppendBody(Master *m, std::string *out, uint64_t offset, size_t count) {
  const std::string &text = BodyText(m);
  if (text.empty()) return;
  while (count > 0) {
    size_t at = (size_t)(offset % text.size());
    size_t n = text.size() - at < count ? text.size() - at : count;
    out->append(text, at, n);
    offset += n;
    count -= n;
  }
}

// Unless a hold comes between them, the head and the first piece go out in one send, so a small
// body arrives in one segment. False when the client went away before the end.
bool SendReply(Master *m, SOCKET s) {
  const FakeMasterConfig &c = m->config;
  uint64_t end = c.closeAfter && c.closeAfter < BodyLength(m) ? c.closeAfter : BodyLength(m);
  size_t pieceSize = c.pieceSize ? c.pieceSize : (size_t)DEFAULT_PIECE_SIZE;
  if (c.holdBeforeHeaders) Hold(m);
  std::string piece = ReplyHead(m);
  if (c.holdBeforeBody) {
    if (Stopping(m) || !SendAll(s, piece)) return false;
    piece.clear();
    Hold(m);
  }
  uint64_t offset = 0;
  do {
    size_t count = end - offset < pieceSize ? (size_t)(end - offset) : pieceSize;
    AppendBody(m, &piece, offset, count);
    if (Stopping(m) || !SendAll(s, piece)) return false;  // a stop during a hold: no answer
    offset += count;
    InterlockedExchange64(&m->bodySent, (LONG64)offset);
    piece.clear();
    if (offset == count && c.holdAfterFirstPiece)
      Hold(m);
    else if (c.pieceDelayMs && offset < end)
      WaitForSingleObject(m->stopEvent, c.pieceDelayMs);
  } while (offset < end);
  return true;
}

// Our side is done; the client closes when it has what it wants, or the drain gives up.
void Drain(Master *m, SOCKET s) {
  shutdown(s, SD_SEND);
  char buffer[4096];
  DWORD start = GetTickCount();
  while (!Stopping(m) && GetTickCount() - start < DRAIN_MS) {
    if (!WaitReadable(s, POLL_MS)) continue;
    if (recv(s, buffer, sizeof buffer, 0) <= 0) {
      NoteClientGone(m);
      break;
    }
  }
}

void ServeConnection(Master *m, SOCKET s) {
  DWORD timeout = SEND_TIMEOUT_MS;
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, (const char *)&timeout, sizeof timeout);
  InterlockedExchange64(&m->bodySent, 0);
  InterlockedExchange(&m->clientGoneAt, 0);
  std::string head;
  if (!ReadRequestHead(m, s, &head)) {
    closesocket(s);
    return;
  }
  RecordRequest(m, head);
  if (m->config.hang) {
    Hang(m, s);
  } else if (!SendReply(m, s)) {
    NoteClientGone(m);
  } else if (m->config.closeAfter == 0) {
    Drain(m, s);
  }
  closesocket(s);  // after a cut-off: the close comes while the client still waits for bytes
}

DWORD WINAPI ServeMaster(LPVOID param) {
  Master *m = (Master *)param;
  while (!Stopping(m) && !Expired(m)) {
    if (!WaitReadable(m->listener, POLL_MS)) continue;
    SOCKET s = accept(m->listener, NULL, NULL);
    if (s != INVALID_SOCKET) ServeConnection(m, s);
  }
  return 0;
}

sockaddr_in Loopback(uint16_t portNumber) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(portNumber);
  return address;
}

void StartOnce(void) {
  static bool started;
  if (started) return;
  started = true;
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  InitializeCriticalSection(&lock);
  lockReady = true;
  releaseEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
  for (Master &m : masters) m.listener = INVALID_SOCKET;
}

// A listening socket on a free port of 127.0.0.1.
SOCKET Listen(uint16_t *port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return s;
  sockaddr_in address = Loopback(0);
  int length = sizeof address;
  if (bind(s, (sockaddr *)&address, sizeof address) != 0 || listen(s, 8) != 0 ||
      getsockname(s, (sockaddr *)&address, &length) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  *port = ntohs(address.sin_port);
  return s;
}

}  // namespace

FakeMasterConfig ListConfig(const std::string &body) {
  FakeMasterConfig config = {};
  config.mode = MASTER_SERVE_LIST;
  config.body = body;
  return config;
}

bool StartFakeMaster(const FakeMasterConfig &config, int master) {
  StopFakeMaster(master);
  StartOnce();
  Master *m = Slot(master);
  m->config = config;
  m->requests = m->hanging = m->clientGoneAt = 0;
  m->bodySent = 0;
  if (m == &masters[0]) holding = holds = 0;
  m->listener = Listen(&m->port);
  if (m->listener == INVALID_SOCKET) return false;
  m->stopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  ResetEvent(releaseEvent);
  m->startTick = GetTickCount();
  m->thread = CreateThread(NULL, 0, ServeMaster, m, 0, NULL);
  return m->thread != NULL;
}

void StopFakeMaster(int master) {
  StartOnce();
  Master *m = Slot(master);
  if (m->thread != NULL) {
    SetEvent(m->stopEvent);
    WaitForSingleObject(m->thread, STOP_WAIT_MS);
    CloseHandle(m->thread);
    m->thread = NULL;
  }
  if (m->listener != INVALID_SOCKET) closesocket(m->listener);
  m->listener = INVALID_SOCKET;
  if (m->stopEvent != NULL) CloseHandle(m->stopEvent);
  m->stopEvent = NULL;
}

void ReleaseFakeMaster(void) {
  if (releaseEvent) SetEvent(releaseEvent);
}

std::string FakeMasterUrl(int master) {
  char url[128];
  snprintf(url, sizeof url, "http://127.0.0.1:%u/servers.txt", (unsigned)Slot(master)->port);
  return url;
}

int FakeMasterRequests(int master) { return (int)InterlockedCompareExchange(&Slot(master)->requests, 0, 0); }

bool FakeMasterHolding(void) { return InterlockedCompareExchange(&holding, 0, 0) != 0; }

int FakeMasterHolds(void) { return (int)InterlockedCompareExchange(&holds, 0, 0); }

uint64_t FakeMasterBodySent(void) {
  return (uint64_t)InterlockedCompareExchange64(&masters[0].bodySent, 0, 0);
}

bool FakeMasterHanging(void) { return InterlockedCompareExchange(&masters[0].hanging, 0, 0) != 0; }

DWORD FakeMasterClientGoneAt(int master) {
  return (DWORD)InterlockedCompareExchange(&Slot(master)->clientGoneAt, 0, 0);
}

static std::string Recorded(const std::string *text) {
  if (!lockReady) return std::string();
  EnterCriticalSection(&lock);
  std::string copy = *text;
  LeaveCriticalSection(&lock);
  return copy;
}

std::string FakeMasterPath(void) { return Recorded(&lastPath); }
std::string FakeMasterUserAgent(void) { return Recorded(&lastUserAgent); }
std::string FakeMasterCacheHeaders(void) { return Recorded(&lastCacheHeaders); }

uint16_t ClosedTcpPort(void) {
  StartOnce();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = Loopback(0);
  int length = sizeof address;
  bind(s, (sockaddr *)&address, sizeof address);
  getsockname(s, (sockaddr *)&address, &length);
  closesocket(s);
  return ntohs(address.sin_port);
}
