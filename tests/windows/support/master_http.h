// In-process stand-in for the HTTP master: one listening socket and one thread on 127.0.0.1.
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

enum { FAKE_MASTER_LIFETIME_MS = 60000, FAKE_MASTER_HOLD_LIMIT_MS = 30000 };

struct FakeMasterConfig {
  FakeMasterMode mode;
  std::string body;
  bool holdBeforeHeaders;    // wait for ReleaseFakeMaster before the status line
  bool holdBeforeBody;       // send the head, then wait for ReleaseFakeMaster
  bool holdAfterFirstPiece;  // send the first piece, then wait for ReleaseFakeMaster
  size_t pieceSize;          // the body goes out in pieces of this size (0: all at once)
  DWORD pieceDelayMs;        // pause between pieces
  DWORD lifetimeMs;          // the server stops by itself after this (0: the default)
};

// Starts serving on a free port of 127.0.0.1; false when no socket could be made. The server
// answers one connection at a time and stops by itself after its lifetime.
bool StartFakeMaster(const FakeMasterConfig &config);
// Stops the thread (waiting at most 5 s) and closes the socket; safe to call twice.
void StopFakeMaster(void);
// Lets a held reply go on; a hold also ends by itself after FAKE_MASTER_HOLD_LIMIT_MS.
void ReleaseFakeMaster(void);

uint16_t FakeMasterPort(void);
// http://127.0.0.1:PORT/servers.txt
std::string FakeMasterUrl(void);
// Requests whose head was received completely.
int FakeMasterRequests(void);
// Set while a held reply is waiting for ReleaseFakeMaster.
bool FakeMasterHolding(void);
// Holds entered since the start, the one waiting now included.
int FakeMasterHolds(void);
// Bytes of the body the latest connection managed to send.
size_t FakeMasterBodySent(void);
// The latest request's path, User-Agent, and its cache-related header lines (Cache-Control,
// Pragma, If-Modified-Since, If-None-Match) as received, one per line.
std::string FakeMasterPath(void);
std::string FakeMasterUserAgent(void);
std::string FakeMasterCacheHeaders(void);

// A TCP port on 127.0.0.1 that nothing listens on: bound once, then closed.
uint16_t ClosedTcpPort(void);
