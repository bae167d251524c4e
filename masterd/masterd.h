// The master daemon's portable core: datagrams, the list's rules, its outputs and the options.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum {
  DATAGRAM_SIZE = 1400,       // no reply of ours is longer
  RECEIVE_SIZE = 2048,        // a heartbeat is at most about 1,400 bytes; longer ones are cut
  QUERY_ATTEMPTS = 3,         // status queries per check before a server counts as silent
  QUERY_TIMEOUT_MS = 1000,    // the wait for each of them
  CANDIDATE_WAIT_MS = 10000,  // a candidate that got no query by then (the budget ran dry) goes
  TICK_MS = 100,              // how often the rules run without a datagram
  ENTRY_BYTES = 6,            // a `servers ` entry: IPv4 address and port, both big-endian
  LIST_LINE_SIZE = 23,        // "255.255.255.255:65535\n" and a terminator
  GAME_NAME_SIZE = 64,
  PATH_SIZE = 4096,
  ADDRESS_TEXT_SIZE = 16
};

enum DatagramKind {
  DATAGRAM_UNKNOWN,
  DATAGRAM_PING,       // FF FF FF FF "ping": answered "ack"
  DATAGRAM_HEARTBEAT,  // FF FF FF FF "heartbeat\n" and the server's status text
  DATAGRAM_SHUTDOWN,   // FF FF FF FF "shutdown"
  DATAGRAM_QUERY,      // "query\n\0" from a browser, with or without the FF FF FF FF marker
  DATAGRAM_STATUS      // FF FF FF FF "print\n": a server's answer to our status query
};

enum GameVerdict { GAME_UNNAMED, GAME_OTHER, GAME_MATCH };

enum EntryState { ENTRY_FREE, ENTRY_CANDIDATE, ENTRY_LISTED };

// Everything the command line sets. Times in seconds, rates per second.
struct MasterOptions {
  int32_t udpPort;   // 0: any free port
  int32_t httpPort;  // 0: no HTTP, -1: any free port
  char bindAddress[ADDRESS_TEXT_SIZE];
  char game[GAME_NAME_SIZE];
  int32_t expireSeconds;
  int32_t recheckSeconds;
  int32_t maxListed;  // lines published
  char writePath[PATH_SIZE];
  char statePath[PATH_SIZE];
  char readyPath[PATH_SIZE];
  bool allowPrivate;
  int32_t maxServers;
  int32_t maxCandidates;
  int32_t maxPerIp;
  int32_t ratePerIp;
  int32_t burstPerIp;
  int32_t maxSources;
  int32_t verifyRate;
  int32_t httpConnections;
  int32_t httpPerIp;
  int32_t httpTimeout;
  int32_t cacheSeconds;
};

// One server the master has heard of. Times are milliseconds of the injected clock.
struct MasterEntry {
  uint32_t ip;  // host byte order
  uint16_t port;
  uint8_t state;
  uint8_t attempts;      // status queries sent for the check under way, 0 when none is
  bool wantQuery;        // a check is due and waits for the verification budget
  bool dropIfSilent;     // a shutdown or a restart: an unanswered check removes a listed server
  bool answerIsHeard;    // a restart check: its answer counts as a heartbeat
  int32_t next;          // the next entry in the same hash chain, -1 at the end
  uint64_t lastHeard;    // last heartbeat
  uint64_t lastAnswer;   // last answer that named our game, 0 never
  uint64_t querySentAt;  // last status query, or when the entry was made while none was sent
  uint64_t order;        // when it was first listed, as a running number: the list's order
};

// Per source address: a token bucket in thousandths of a datagram.
struct SourceRate {
  uint32_t ip;
  int32_t tokens;
  uint64_t updated;
};

extern MasterOptions masterOptions;
extern MasterEntry *entries;  // maxServers + maxCandidates slots, allocated once
extern int32_t entryCapacity;
extern int32_t listedCount;
extern int32_t candidateCount;
extern bool listChanged;    // set by the rules, cleared by whoever publishes the list
extern int32_t *listOrder;  // indices of the listed entries in the published order
extern int32_t listOrderCount;

// The platform layer's side: sending a datagram and writing one log line.
extern void (*SendDatagram)(uint32_t ip, uint16_t port, const char *data, int32_t length);
extern void (*LogLine)(const char *text);

// options.cpp
void DefaultOptions(MasterOptions *options);
// 0: run, 1: --help was asked (usage printed into message), 2: a bad flag or value (message says).
int ParseOptions(int argc, char **argv, MasterOptions *options, char *message, size_t messageSize);
void FormatUsage(char *text, size_t size);

// datagram.cpp
DatagramKind ClassifyDatagram(const char *data, int32_t length);
const char *ServerInfoLine(const char *data, int32_t length, int32_t headerLength, size_t *infoLength);
GameVerdict StatusNamesGame(const char *data, int32_t length, int32_t headerLength, const char *game);
bool IsPrivateAddress(uint32_t ip);
void FormatAddress(char *text, size_t size, uint32_t ip, uint16_t port);
bool ParseAddress(const char *text, size_t length, uint32_t *ip, uint16_t *port);
int32_t QueryReplyCount(void);
int32_t BuildQueryReply(int32_t part, char *out, int32_t size);
void CopyPrintable(char *dest, size_t destSize, const char *src, size_t length);

// list.cpp
bool StartMasterList(const MasterOptions *options, uint32_t seed);
void StopMasterList(void);
void HandleDatagram(uint32_t ip, uint16_t port, const char *data, int32_t length, uint64_t now);
void RunMasterRules(uint64_t now);
void SortListOrder(void);
int32_t PublishedCount(void);  // the first --max servers of listOrder
int32_t FindEntry(uint32_t ip, uint16_t port);
bool TakeRateToken(uint32_t ip, uint64_t now);
int32_t AddEntry(uint32_t ip, uint16_t port, uint8_t state, uint64_t now);

// output.cpp
int32_t ServersTextSize(void);
int32_t BuildServersText(char *out, int32_t size);
int32_t StateTextSize(void);
int32_t BuildStateText(char *out, int32_t size, uint64_t now, int64_t wallNow);
int32_t LoadStateText(const char *data, int32_t length, uint64_t now, int64_t wallNow);
