// Hostile stand-ins for the update tests: an HTTP master that misbehaves and a set of game servers.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <stdint.h>

#include <string>

enum {
  HOSTILE_MASTER_FIRST_PORT = 32200,  // the master takes the first free TCP port from here
  HOSTILE_MASTER_LAST_PORT = 32299,
  HOSTILE_MASTER_LIFETIME_MS = 60000,
  HOSTILE_GAMES_MAX = 64,
  HOSTILE_GAMES_LIFETIME_MS = 60000
};

struct HostileMasterConfig {
  std::string block;         // the body is this block repeated...
  uint64_t bodyLength;       // ...and cut to this many bytes
  uint64_t announcedLength;  // the Content-Length sent (the body's length when 0)
  uint64_t closeAfter;       // body bytes sent before the connection is closed (all when 0)
  bool hang;                 // read the request, then never answer until stopped
  DWORD lifetimeMs;          // the server stops by itself after this (0: the default)
};

// A master serving body exactly once per request.
HostileMasterConfig HostileBody(const std::string &body);

// Starts serving on 127.0.0.1 at the first free port of 32200 to 32299; false when none.
bool StartHostileMaster(const HostileMasterConfig &config);
// Stops the thread (waiting at most 5 s), which ends any open connection; safe to call twice.
void StopHostileMaster(void);
std::string HostileMasterUrl(void);
int HostileMasterRequests(void);
// Body bytes the latest connection handed to the socket.
uint64_t HostileMasterBodySent(void);
// True while a hanging connection is open and waiting.
bool HostileMasterHanging(void);
// GetTickCount() when the latest connection's client went away (0 while it is still there).
DWORD HostileMasterClientGoneAt(void);

// UDP game servers on free loopback ports that answer every status request with
// "\hostname\Hostile Game N\mapname\q2dm1\maxclients\8" and one player; they stop by
// themselves after HOSTILE_GAMES_LIFETIME_MS.
bool StartHostileGames(int count);
void StopHostileGames(void);
uint16_t HostileGamePort(int index);
// "127.0.0.1:PORT\n" for the games first to first + count - 1.
std::string HostileGameLines(int first, int count);
int HostileGameRequests(void);
