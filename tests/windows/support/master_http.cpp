// In-process HTTP master for the update tests: serves /servers.txt well or in a broken way.
#include "master_http.h"

#include <stdio.h>
#include <string.h>

namespace {

enum {
  POLL_MS = 50,
  REQUEST_TIMEOUT_MS = 5000,
  REQUEST_HEAD_LIMIT = 16384,
  SEND_TIMEOUT_MS = 10000,
  DRAIN_MS = 2000,
  STOP_WAIT_MS = 5000
};

FakeMasterConfig config;
SOCKET listener = INVALID_SOCKET;
HANDLE thread;
HANDLE stopEvent;
HANDLE releaseEvent;
DWORD startTick;
uint16_t port;
volatile LONG requests;
volatile LONG holding;
volatile LONG holds;
volatile LONG bodySent;
CRITICAL_SECTION lock;  // the recorded request texts
bool lockReady;
std::string lastPath, lastUserAgent, lastCacheHeaders;

bool Stopping(void) { return WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0; }

bool Expired(void) {
  DWORD lifetime = config.lifetimeMs ? config.lifetimeMs : FAKE_MASTER_LIFETIME_MS;
  return GetTickCount() - startTick >= lifetime;
}

bool WaitReadable(SOCKET s, DWORD ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv = {(long)(ms / 1000), (long)(ms % 1000) * 1000};
  return select(0, &set, NULL, NULL, &tv) == 1;
}

// The head up to the blank line, or false when it does not come in time.
bool ReadRequestHead(SOCKET s, std::string *head) {
  DWORD start = GetTickCount();
  char buffer[2048];
  while (head->find("\r\n\r\n") == std::string::npos) {
    if (Stopping() || GetTickCount() - start > REQUEST_TIMEOUT_MS || head->size() > REQUEST_HEAD_LIMIT)
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

void RecordRequest(const std::string &head) {
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
  InterlockedIncrement(&requests);
}

bool SendAll(SOCKET s, const char *data, size_t length) {
  while (length > 0) {
    int n = send(s, data, (int)(length > 65536 ? 65536 : length), 0);
    if (n <= 0) return false;
    data += n;
    length -= (size_t)n;
  }
  return true;
}

// A held reply waits for the test, for the stop, or for the hold limit, whichever comes first.
void Hold(void) {
  HANDLE events[2] = {releaseEvent, stopEvent};
  InterlockedIncrement(&holds);
  InterlockedExchange(&holding, 1);
  WaitForMultipleObjects(2, events, FALSE, FAKE_MASTER_HOLD_LIMIT_MS);
  InterlockedExchange(&holding, 0);
}

const char *NOT_FOUND_PAGE =
    "<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head>\n"
    "<body><h1>Not Found</h1><p>The requested URL was not found on this server.</p></body></html>\n";

std::string ReplyHead(int status, const char *type, size_t length) {
  char head[256];
  snprintf(head, sizeof head,
           "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %u\r\nConnection: close\r\n\r\n",
           status, status == 200 ? "OK" : "Not Found", type, (unsigned)length);
  return head;
}

void SendBody(SOCKET s, const std::string &body) {
  size_t piece = config.pieceSize ? config.pieceSize : body.size();
  for (size_t offset = 0; offset < body.size(); offset += piece) {
    if (Stopping()) return;
    size_t length = body.size() - offset < piece ? body.size() - offset : piece;
    if (!SendAll(s, body.data() + offset, length)) return;
    InterlockedExchangeAdd(&bodySent, (LONG)length);
    if (offset == 0 && config.holdAfterFirstPiece) Hold();
    else if (config.pieceDelayMs) WaitForSingleObject(stopEvent, config.pieceDelayMs);
  }
}

void Reply(SOCKET s) {
  std::string body = config.mode == MASTER_SERVE_LIST ? config.body : std::string();
  if (config.mode == MASTER_SERVE_404) body = NOT_FOUND_PAGE;
  if (config.holdBeforeHeaders) Hold();
  if (Stopping()) return;  // a stop during the hold: the connection ends without an answer
  bool html = config.mode == MASTER_SERVE_404;
  std::string head = ReplyHead(html ? 404 : 200, html ? "text/html" : "text/plain", body.size());
  if (!SendAll(s, head.data(), head.size())) return;
  if (config.holdBeforeBody) Hold();
  SendBody(s, body);
}

// Our side is done; the client closes when it has what it wants, or the drain gives up.
void CloseConnection(SOCKET s) {
  shutdown(s, SD_SEND);
  char buffer[4096];
  DWORD start = GetTickCount();
  while (!Stopping() && GetTickCount() - start < DRAIN_MS) {
    if (!WaitReadable(s, POLL_MS)) continue;
    if (recv(s, buffer, sizeof buffer, 0) <= 0) break;
  }
  closesocket(s);
}

void ServeConnection(SOCKET s) {
  DWORD timeout = SEND_TIMEOUT_MS;
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, (const char *)&timeout, sizeof timeout);
  InterlockedExchange(&bodySent, 0);
  std::string head;
  if (ReadRequestHead(s, &head)) {
    RecordRequest(head);
    Reply(s);
  }
  CloseConnection(s);
}

DWORD WINAPI ServeMaster(LPVOID) {
  while (!Stopping() && !Expired()) {
    if (!WaitReadable(listener, POLL_MS)) continue;
    SOCKET s = accept(listener, NULL, NULL);
    if (s != INVALID_SOCKET) ServeConnection(s);
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

void StartWinsockOnce(void) {
  static bool started;
  if (started) return;
  WSADATA wsa;
  started = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
}

}  // namespace

bool StartFakeMaster(const FakeMasterConfig &newConfig) {
  StopFakeMaster();
  StartWinsockOnce();
  if (!lockReady) InitializeCriticalSection(&lock);
  lockReady = true;
  config = newConfig;
  requests = 0;
  holding = 0;
  holds = 0;
  bodySent = 0;
  listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) return false;
  sockaddr_in address = Loopback(0);
  int length = sizeof address;
  if (bind(listener, (sockaddr *)&address, sizeof address) != 0 || listen(listener, 8) != 0 ||
      getsockname(listener, (sockaddr *)&address, &length) != 0) {
    closesocket(listener);
    listener = INVALID_SOCKET;
    return false;
  }
  port = ntohs(address.sin_port);
  stopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  releaseEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
  startTick = GetTickCount();
  thread = CreateThread(NULL, 0, ServeMaster, NULL, 0, NULL);
  return thread != NULL;
}

void StopFakeMaster(void) {
  if (thread != NULL) {
    SetEvent(stopEvent);
    WaitForSingleObject(thread, STOP_WAIT_MS);
    CloseHandle(thread);
    thread = NULL;
  }
  if (listener != INVALID_SOCKET) closesocket(listener);
  listener = INVALID_SOCKET;
  if (stopEvent) CloseHandle(stopEvent);
  if (releaseEvent) CloseHandle(releaseEvent);
  stopEvent = releaseEvent = NULL;
}

void ReleaseFakeMaster(void) {
  if (releaseEvent) SetEvent(releaseEvent);
}

uint16_t FakeMasterPort(void) { return port; }

std::string FakeMasterUrl(void) {
  char url[128];
  snprintf(url, sizeof url, "http://127.0.0.1:%u/servers.txt", (unsigned)port);
  return url;
}

int FakeMasterRequests(void) { return (int)InterlockedCompareExchange(&requests, 0, 0); }

bool FakeMasterHolding(void) { return InterlockedCompareExchange(&holding, 0, 0) != 0; }

int FakeMasterHolds(void) { return (int)InterlockedCompareExchange(&holds, 0, 0); }

size_t FakeMasterBodySent(void) { return (size_t)InterlockedCompareExchange(&bodySent, 0, 0); }

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
  StartWinsockOnce();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = Loopback(0);
  int length = sizeof address;
  bind(s, (sockaddr *)&address, sizeof address);
  getsockname(s, (sockaddr *)&address, &length);
  closesocket(s);
  return ntohs(address.sin_port);
}
