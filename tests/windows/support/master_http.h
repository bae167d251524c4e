// In-process stand-in for the HTTP master on 127.0.0.1: serves /servers.txt well, slowly, held at
// a chosen point, huge, cut off, or not at all. One listening socket and one thread per master.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <stdint.h>

#include <string>

enum FakeMasterMode {
  MASTER_SERVE_LIST,  // 200 with the configured body
  MASTER_SERVE_404,   // 404 with an HTML page
  MASTER_SERVE_EMPTY  // 200 with an empty body
};

enum {
  FAKE_MASTER_LIFETIME_MS = 60000,
  FAKE_MASTER_HOLD_LIMIT_MS = 30000,
  FAKE_MASTERS = 2  // a second master serves while the first one's connection is still open
};

struct FakeMasterConfig {
  FakeMasterMode mode;
  std::string body;          // the body is this text repeated...
  uint64_t bodyLength;       // ...and cut to this many bytes (0: the text once)
  uint64_t closeAfter;       // body bytes sent before the connection is closed (0: all of them)
  bool hang;                 // read the request, then never answer until stopped or the client goes
  bool holdBeforeHeaders;    // wait for ReleaseFakeMaster before the status line
  bool holdBeforeBody;       // send the head, then wait for ReleaseFakeMaster
  bool holdAfterFirstPiece;  // send the first piece, then wait for ReleaseFakeMaster
  size_t pieceSize;          // the body goes out in pieces of this size (0: 64 KiB)
  DWORD pieceDelayMs;        // pause between pieces
};

// A master serving body once per request.
FakeMasterConfig ListConfig(const std::string &body);

// Starts serving on a free port of 127.0.0.1; false when no socket could be made. A master
// answers one connection at a time and stops by itself after FAKE_MASTER_LIFETIME_MS.
bool StartFakeMaster(const FakeMasterConfig &config, int master = 0);
// Stops the thread (waiting at most 5 s), which ends any open connection; safe to call twice.
void StopFakeMaster(int master = 0);
// Lets a held reply go on; a hold also ends by itself after FAKE_MASTER_HOLD_LIMIT_MS.
void ReleaseFakeMaster(void);

// http://127.0.0.1:PORT/servers.txt
std::string FakeMasterUrl(int master = 0);
// Requests whose head was received completely.
int FakeMasterRequests(int master = 0);
// Set while a held reply is waiting for ReleaseFakeMaster.
bool FakeMasterHolding(void);
// Holds entered since the start, the one waiting now included.
int FakeMasterHolds(void);
// Body bytes the latest connection handed to the socket.
uint64_t FakeMasterBodySent(void);
// True while a hanging connection is open and waiting.
bool FakeMasterHanging(void);
// GetTickCount() when the latest connection's client went away (0 while it is still there).
DWORD FakeMasterClientGoneAt(int master = 0);
// The latest request's path, User-Agent, and its cache-related header lines (Cache-Control,
// Pragma, If-Modified-Since, If-None-Match) as received, one per line.
std::string FakeMasterPath(void);
std::string FakeMasterUserAgent(void);
std::string FakeMasterCacheHeaders(void);

// A TCP port on 127.0.0.1 that nothing listens on: bound once, then closed.
uint16_t ClosedTcpPort(void);
