// Status request and reply parsing: portable, no Winsock.
#pragma once
#include "table/table.h"

enum {
  STATUS_QUERY_SIZE = 11,
  RECEIVE_BUFFER_SIZE = 4096,
  QUERY_SPACING_MS = 50  // at most 20 new queries a second
};

// FF FF FF FF "status" NUL: the connectionless status request, terminator included.
extern const char STATUS_QUERY[STATUS_QUERY_SIZE];

// Fills hostName, mapName, maxClients, players and playerCount from a received datagram of
// length bytes (line 1 skipped, line 2 serverinfo, the rest player lines). Reads only length bytes.
void ParseStatusReply(ServerRecord *record, const char *data, int32_t length);
void ParseServerInfo(ServerRecord *record, const char *line);
bool ParsePlayerLine(PlayerEntry *player, const char *line);
// Copies the value of key (lower case) from a serverinfo line of length bytes, pair by pair.
bool ServerInfoValue(const char *line, size_t length, const char *key, char *value, size_t valueSize);

// When the next query of a pass is due (timeGetTime milliseconds), after the last one was due at
// due and started at started. A start on time keeps the exact 50 ms spacing from the first one;
// a late one (a coordinator stalled, say while the GUI thread sat in the drive search) becomes
// the new base, so the starts that fell behind never fire together and none comes closer than
// 50 ms to the one before it.
uint32_t NextQueryStart(uint32_t due, uint32_t started);
