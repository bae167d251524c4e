// Status request and reply parsing: portable, no Winsock.
#pragma once
#include "table/table.h"

enum { STATUS_QUERY_SIZE = 11, RECEIVE_BUFFER_SIZE = 4096 };

// FF FF FF FF "status" NUL: the connectionless status request, terminator included.
extern const char STATUS_QUERY[STATUS_QUERY_SIZE];

// Fills hostName, mapName, maxClients, players and playerCount from a received datagram of
// length bytes (line 1 skipped, line 2 serverinfo, the rest player lines). Reads only length bytes.
void ParseStatusReply(ServerRecord *record, const char *data, int32_t length);
void ParseServerInfo(ServerRecord *record, const char *line);
bool ParsePlayerLine(PlayerEntry *player, const char *line);
