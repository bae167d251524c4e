// The server table: fixed records shared by every subsystem, bounded text helpers and the line reader.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum {
  MAX_SERVERS = 64,
  MAX_PLAYERS = 64,
  TEXT_FIELD_SIZE = 256,   // address, hostName, mapName: 255 characters and a terminator
  PLAYER_NAME_SIZE = 16,   // 15 characters and a terminator
  LINE_BUFFER_SIZE = 2048  // longest line ReadLine returns is 2047 characters
};

// 24 bytes; the ping comes before the score although reply lines give the score first.
struct PlayerEntry {
  char name[PLAYER_NAME_SIZE];
  int32_t ping;
  int32_t score;
};

// 2328 bytes. The in-memory image is also the cache file's record, so the layout is fixed
// byte for byte (little-endian, the 2-byte gap at 770 included).
struct ServerRecord {
  char address[TEXT_FIELD_SIZE];
  uint16_t port;
  char hostName[TEXT_FIELD_SIZE];
  char mapName[TEXT_FIELD_SIZE];
  uint8_t reserved[2];
  int32_t playerCount;
  int32_t maxClients;
  uint32_t queryStartTime;
  int32_t ping;
  PlayerEntry players[MAX_PLAYERS];
  int32_t fromMasterList;
};

static_assert(sizeof(PlayerEntry) == 24, "PlayerEntry image");
static_assert(offsetof(PlayerEntry, ping) == 16, "PlayerEntry image");
static_assert(offsetof(PlayerEntry, score) == 20, "PlayerEntry image");
static_assert(sizeof(ServerRecord) == 2328, "ServerRecord image");
static_assert(offsetof(ServerRecord, port) == 256, "ServerRecord image");
static_assert(offsetof(ServerRecord, hostName) == 258, "ServerRecord image");
static_assert(offsetof(ServerRecord, mapName) == 514, "ServerRecord image");
static_assert(offsetof(ServerRecord, reserved) == 770, "ServerRecord image");
static_assert(offsetof(ServerRecord, playerCount) == 772, "ServerRecord image");
static_assert(offsetof(ServerRecord, maxClients) == 776, "ServerRecord image");
static_assert(offsetof(ServerRecord, queryStartTime) == 780, "ServerRecord image");
static_assert(offsetof(ServerRecord, ping) == 784, "ServerRecord image");
static_assert(offsetof(ServerRecord, players) == 788, "ServerRecord image");
static_assert(offsetof(ServerRecord, fromMasterList) == 2324, "ServerRecord image");

// Records 0 to serverCount - 1 are in use, without holes. A record's index is its identity.
extern ServerRecord records[MAX_SERVERS];
extern int32_t serverCount;
// The IPv4 address (network byte order) each record's status query sent to, 0 when none yet:
// for a host name, what it resolved to in this pass. In memory only, beside the records, so the
// record image stays as it is; it moves with its record and is cleared with its reply data.
extern uint32_t reachedAddresses[MAX_SERVERS];

void ResetReplyData(ServerRecord *record);
bool AppendServer(const char *address, uint16_t port);
void RemoveMasterListRecords(void);
void TerminateTextFields(ServerRecord *record);
int RecordIndex(const ServerRecord *record);

// Bounded text: every copy fits its destination and is terminated within it.
void CopyText(char *dest, size_t destSize, const char *src);
void CopyTextN(char *dest, size_t destSize, const char *src, size_t srcLength);
int32_t ReadInt32(const char *text);
uint16_t ReadPort(const char *text);
const char *PluralSuffix(int32_t count);

// Takes one line-feed-terminated line from (position, remaining) and returns it as a new heap
// string (release with free), or null when nothing remains.
char *ReadLine(char **position, int32_t *remaining);
