// In-process stand-ins for game servers: one UDP socket and one thread each, on 127.0.0.1.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <stdint.h>

// What a fake server does with one request.
enum FakeAction {
  FAKE_IGNORE,    // no answer
  FAKE_REPLY,     // the status reply set with SetFakeReply
  FAKE_OVERSIZE,  // a status reply of 5000 bytes, more than a query thread's buffer takes
  FAKE_EMPTY,     // a datagram of length 0
  FAKE_GARBAGE    // 4096 bytes of noise without any structure
};

enum { FAKE_SCRIPT_SIZE = 8, FAKE_REPLY_SIZE = 8192, FAKE_LOG_SIZE = 16, FAKE_DEFAULT_LIFETIME_MS = 30000 };

struct FakeServer {
  // Set up before StartFakeServer (InitFakeServer gives "answer everything at once").
  int script[FAKE_SCRIPT_SIZE];  // the action for request 1, 2, ... up to scriptLength
  int scriptLength;
  int laterAction;   // the action for every request after the script
  DWORD delayMs;     // between a request's arrival and its answer
  DWORD lifetimeMs;  // the server stops by itself after this, whatever happens
  char reply[FAKE_REPLY_SIZE];
  int replyLength;

  // Filled in by the server.
  uint16_t port;
  volatile LONG requests;              // every datagram received
  volatile LONG wrongRequests;         // datagrams that were not the 11-byte status request
  DWORD requestTimes[FAKE_LOG_SIZE];   // timeGetTime() at the arrival of the first requests
  double replyDelayMs[FAKE_LOG_SIZE];  // measured time from arrival to the answer being sent

  SOCKET socket;
  HANDLE thread;
  volatile LONG stopping;
};

void InitFakeServer(FakeServer *server);
// The reply a real server gives: "\xff\xff\xff\xffprint\n", the serverinfo line, the player lines.
void SetFakeReply(FakeServer *server, const char *serverInfo, const char *playerLines);
// Binds 127.0.0.1 on a free port and starts answering; false when the socket can't be made.
bool StartFakeServer(FakeServer *server);
// Stops the thread (waiting at most 2 s) and closes the socket; safe to call twice.
void StopFakeServer(FakeServer *server);

// A port on 127.0.0.1 that nothing listens on: bound once, then closed.
uint16_t ClosedUdpPort(void);
// WSAStartup(1.1) once per test process, as the program's start-up does.
void StartWinsockForTests(void);
