// The list's rules: candidates, verification by our own status query, expiry, shutdown, limits.
//
// Every table is allocated once by StartMasterList, sized by the options, and nothing is
// allocated afterwards, so a flood of forged heartbeats costs no more memory than a quiet day:
// when the candidate slots are taken, further strangers are simply not heard. A server is
// listed only after a status query sent to exactly its address and port is answered from
// there, naming our game; times come from the caller's clock, in milliseconds.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "masterd.h"
#include "query/reply.h"

enum { RATE_WAYS = 4, LOG_SIZE = 512, HEARTBEAT_HEADER = 14, STATUS_HEADER = 10 };

MasterOptions masterOptions;
MasterEntry *entries;
int32_t entryCapacity;
int32_t listedCount;
int32_t candidateCount;
bool listChanged;
int32_t *listOrder;
int32_t listOrderCount;
void (*SendDatagram)(uint32_t ip, uint16_t port, const char *data, int32_t length);
void (*LogLine)(const char *text);

static int32_t *bucketHead;
static uint32_t bucketShift;
static int32_t freeHead;
static uint32_t hashSeed;
static SourceRate *sources;
static uint32_t sourceSetShift;
static int32_t verifyTokens;
static uint64_t verifyUpdated;
static uint64_t nextOrder;
static int32_t refusalTokens;
static uint64_t refusalUpdated;

// Smallest power of two of at least n, as its exponent.
static uint32_t Log2Above(uint32_t n) {
  uint32_t bits = 1;
  while ((1u << bits) < n && bits < 30) bits++;
  return bits;
}

// Multiplicative hashing with a seed chosen at start, so no sender can pick colliding addresses.
static uint32_t HashIp(uint32_t ip, uint32_t shift) { return ((ip ^ hashSeed) * 2654435761u) >> shift; }

static bool AllocateTables(void) {
  uint32_t bucketBits = Log2Above((uint32_t)entryCapacity * 2);
  uint32_t setBits = Log2Above((uint32_t)(masterOptions.maxSources + RATE_WAYS - 1) / RATE_WAYS);
  bucketShift = 32 - bucketBits;
  sourceSetShift = 32 - setBits;
  entries = (MasterEntry *)calloc((size_t)entryCapacity, sizeof *entries);
  listOrder = (int32_t *)calloc((size_t)entryCapacity, sizeof *listOrder);
  bucketHead = (int32_t *)malloc(sizeof *bucketHead << bucketBits);
  sources = (SourceRate *)calloc((size_t)RATE_WAYS << setBits, sizeof *sources);
  if (!entries || !listOrder || !bucketHead || !sources) return false;
  for (uint32_t i = 0; i < (1u << bucketBits); i++) bucketHead[i] = -1;
  return true;
}

bool StartMasterList(const MasterOptions *options, uint32_t seed) {
  masterOptions = *options;
  hashSeed = seed;
  entryCapacity = options->maxServers + options->maxCandidates;
  listedCount = candidateCount = listOrderCount = 0;
  listChanged = false;
  nextOrder = 1;
  verifyTokens = options->verifyRate * 1000;
  verifyUpdated = 0;
  refusalTokens = 1000;
  refusalUpdated = 0;
  if (!AllocateTables()) return false;
  for (int32_t i = 0; i < entryCapacity; i++) entries[i].next = i + 1 < entryCapacity ? i + 1 : -1;
  freeHead = 0;
  return true;
}

void StopMasterList(void) {
  free(entries);
  free(listOrder);
  free(bucketHead);
  free(sources);
  entries = NULL;
  listOrder = bucketHead = NULL;
  sources = NULL;
}

static void Log(const char *format, uint32_t ip, uint16_t port, const char *detail) {
  char address[32], line[LOG_SIZE];
  FormatAddress(address, sizeof address, ip, port);
  snprintf(line, sizeof line, format, address, detail);
  if (LogLine) LogLine(line);
}

int32_t FindEntry(uint32_t ip, uint16_t port) {
  for (int32_t i = bucketHead[HashIp(ip, bucketShift)]; i >= 0; i = entries[i].next) {
    if (entries[i].ip == ip && entries[i].port == port) return i;
  }
  return -1;
}

// All of one address's entries share its chain, so counting them walks only that chain.
static int32_t CountForIp(uint32_t ip) {
  int32_t count = 0;
  for (int32_t i = bucketHead[HashIp(ip, bucketShift)]; i >= 0; i = entries[i].next) {
    if (entries[i].ip == ip) count++;
  }
  return count;
}

int32_t AddEntry(uint32_t ip, uint16_t port, uint8_t state, uint64_t now) {
  if (freeHead < 0) return -1;
  int32_t index = freeHead;
  MasterEntry *entry = &entries[index];
  freeHead = entry->next;
  uint32_t bucket = HashIp(ip, bucketShift);
  memset(entry, 0, sizeof *entry);
  entry->ip = ip;
  entry->port = port;
  entry->state = state;
  entry->lastHeard = entry->querySentAt = now;
  entry->next = bucketHead[bucket];
  bucketHead[bucket] = index;
  if (state == ENTRY_LISTED) listedCount++;
  if (state == ENTRY_CANDIDATE) candidateCount++;
  return index;
}

static void RemoveEntry(int32_t index) {
  MasterEntry *entry = &entries[index];
  int32_t *link = &bucketHead[HashIp(entry->ip, bucketShift)];
  while (*link != index) link = &entries[*link].next;
  *link = entry->next;
  if (entry->state == ENTRY_CANDIDATE) candidateCount--;
  bool wasListed = entry->state == ENTRY_LISTED;
  memset(entry, 0, sizeof *entry);
  entry->next = freeHead;
  freeHead = index;
  if (wasListed) {
    listedCount--;
    SortListOrder();
  }
}

static int CompareOrder(const void *a, const void *b) {
  uint64_t x = entries[*(const int32_t *)a].order, y = entries[*(const int32_t *)b].order;
  return x < y ? -1 : x > y;
}

// Earliest listed first: a long-standing server keeps its line, a newcomer joins at the end.
void SortListOrder(void) {
  listOrderCount = 0;
  for (int32_t i = 0; i < entryCapacity; i++) {
    if (entries[i].state == ENTRY_LISTED) listOrder[listOrderCount++] = i;
  }
  qsort(listOrder, (size_t)listOrderCount, sizeof *listOrder, CompareOrder);
  if (listOrderCount > 0 && entries[listOrder[listOrderCount - 1]].order >= nextOrder) {
    nextOrder = entries[listOrder[listOrderCount - 1]].order + 1;  // loaded servers keep their places
  }
  listChanged = true;
}

int32_t PublishedCount(void) {
  return listOrderCount < masterOptions.maxListed ? listOrderCount : masterOptions.maxListed;
}

// A bucket of thousandths: rate per second gains rate thousandths a millisecond, up to burst.
static bool TakeToken(int32_t *tokens, uint64_t *updated, uint64_t now, int32_t rate, int32_t burst) {
  uint64_t elapsed = now > *updated ? now - *updated : 0;
  int64_t full = (int64_t)burst * 1000;
  int64_t filled = elapsed >= (uint64_t)full ? full : *tokens + (int64_t)elapsed * rate;
  *tokens = (int32_t)(filled < full ? filled : full);
  *updated = now;
  if (*tokens < 1000) return false;
  *tokens -= 1000;
  return true;
}

// The address's own bucket, or, for a stranger, the longest-idle of its set's four made its.
bool TakeRateToken(uint32_t ip, uint64_t now) {
  SourceRate *set = &sources[(size_t)HashIp(ip, sourceSetShift) * RATE_WAYS];
  SourceRate *slot = NULL;
  for (int i = 0; i < RATE_WAYS && slot == NULL; i++) {
    if (set[i].ip == ip && set[i].updated != 0) slot = &set[i];
  }
  if (slot == NULL) {
    slot = &set[0];
    for (int i = 1; i < RATE_WAYS; i++) {
      if (set[i].updated < slot->updated) slot = &set[i];
    }
    slot->ip = ip;
    slot->tokens = masterOptions.burstPerIp * 1000;
  }
  if (now == 0) now = 1;  // 0 marks a slot never used
  return TakeToken(&slot->tokens, &slot->updated, now, masterOptions.ratePerIp, masterOptions.burstPerIp);
}

// Candidates spend the verification budget; a listed server's checks are bounded by its own
// heartbeats and the recheck interval, so they never wait behind a flood of strangers.
static void TrySendQuery(int32_t index, uint64_t now) {
  MasterEntry *entry = &entries[index];
  if (entry->state == ENTRY_CANDIDATE &&
      !TakeToken(&verifyTokens, &verifyUpdated, now, masterOptions.verifyRate, masterOptions.verifyRate)) {
    entry->wantQuery = true;
    return;
  }
  entry->wantQuery = false;
  entry->attempts++;
  entry->querySentAt = now;
  if (SendDatagram) SendDatagram(entry->ip, entry->port, STATUS_QUERY, STATUS_QUERY_SIZE);
}

// A listed server that goes unanswered for the expiry is dropped however often it heartbeats,
// so it is asked again well within that time even when --recheck is set longer.
static uint64_t RecheckMs(void) {
  int32_t seconds = masterOptions.recheckSeconds;
  if (seconds > masterOptions.expireSeconds / 2) seconds = masterOptions.expireSeconds / 2;
  return (uint64_t)(seconds > 0 ? seconds : 1) * 1000;
}

// One line a second at most, so a flood from many addresses can't fill the log.
static void LogRefusal(const char *what, uint32_t ip, uint16_t port, uint64_t now) {
  if (TakeToken(&refusalTokens, &refusalUpdated, now, 1, 1)) Log("refused %s: %s", ip, port, what);
}

static void StartCheck(int32_t index, uint64_t now) {
  if (entries[index].attempts == 0 && !entries[index].wantQuery) TrySendQuery(index, now);
}

static void HandleHeartbeat(uint32_t ip, uint16_t port, const char *data, int32_t length, uint64_t now) {
  if (StatusNamesGame(data, length, HEARTBEAT_HEADER, masterOptions.game) == GAME_OTHER) {
    LogRefusal("its heartbeat names another game", ip, port, now);
    return;
  }
  int32_t index = FindEntry(ip, port);
  if (index < 0) {
    if (candidateCount >= masterOptions.maxCandidates || CountForIp(ip) >= masterOptions.maxPerIp) return;
    index = AddEntry(ip, port, ENTRY_CANDIDATE, now);
    if (index >= 0) StartCheck(index, now);
    return;
  }
  MasterEntry *entry = &entries[index];
  entry->lastHeard = now;
  if (entry->state == ENTRY_LISTED && now - entry->lastAnswer >= RecheckMs()) {
    StartCheck(index, now);
  }
}

// Only our own query can tell a real shutdown from a forged one: the server is dropped when
// that check goes unanswered.
static void HandleShutdown(uint32_t ip, uint16_t port, uint64_t now) {
  int32_t index = FindEntry(ip, port);
  if (index < 0 || entries[index].state != ENTRY_LISTED) return;  // a candidate's check goes on
  entries[index].dropIfSilent = true;
  entries[index].answerIsHeard = false;
  StartCheck(index, now);
}

static void Promote(int32_t index, const char *data, int32_t length) {
  MasterEntry *entry = &entries[index];
  if (listedCount >= masterOptions.maxServers) {
    Log("verification failed %s: %s", entry->ip, entry->port, "the list is full");
    RemoveEntry(index);
    return;
  }
  entry->state = ENTRY_LISTED;
  entry->order = nextOrder++;
  candidateCount--;
  listedCount++;
  SortListOrder();
  char host[64] = "", value[64] = "", detail[160];
  size_t infoLength;
  const char *info = ServerInfoLine(data, length, STATUS_HEADER, &infoLength);
  if (ServerInfoValue(info, infoLength, "hostname", value, sizeof value)) {
    CopyPrintable(host, sizeof host, value, sizeof value);
  }
  snprintf(detail, sizeof detail, "\"%s\" (%d listed)", host, (int)listedCount);
  Log("registered %s %s", entry->ip, entry->port, detail);
}

static void HandleStatus(uint32_t ip, uint16_t port, const char *data, int32_t length, uint64_t now) {
  int32_t index = FindEntry(ip, port);
  if (index < 0 || entries[index].attempts == 0) return;  // nothing we asked for
  MasterEntry *entry = &entries[index];
  if (StatusNamesGame(data, length, STATUS_HEADER, masterOptions.game) != GAME_MATCH) {
    Log("verification failed %s: %s", ip, port, "its status names another game");
    RemoveEntry(index);
    return;
  }
  entry->attempts = 0;
  entry->wantQuery = false;
  entry->lastAnswer = now;
  if (entry->answerIsHeard) entry->lastHeard = now;
  entry->answerIsHeard = false;
  if (entry->state == ENTRY_CANDIDATE) {
    Promote(index, data, length);
  } else if (entry->dropIfSilent) {
    Log("shutdown ignored %s: %s", ip, port, "it still answers");
  }
  entry->dropIfSilent = false;
}

void HandleDatagram(uint32_t ip, uint16_t port, const char *data, int32_t length, uint64_t now) {
  DatagramKind kind = ClassifyDatagram(data, length);
  if (kind == DATAGRAM_STATUS) {
    HandleStatus(ip, port, data, length, now);
    return;
  }
  if (kind == DATAGRAM_UNKNOWN || port == 0) return;
  if (!masterOptions.allowPrivate && IsPrivateAddress(ip)) return;
  if (!TakeRateToken(ip, now)) return;
  if (kind == DATAGRAM_PING && SendDatagram)
    SendDatagram(ip, port,
                 "\xff\xff\xff\xff"
                 "ack",
                 7);
  if (kind == DATAGRAM_HEARTBEAT) HandleHeartbeat(ip, port, data, length, now);
  if (kind == DATAGRAM_SHUTDOWN) HandleShutdown(ip, port, now);
  if (kind == DATAGRAM_QUERY && SendDatagram) {
    char reply[DATAGRAM_SIZE];
    for (int32_t part = 0; part < QueryReplyCount(); part++) {
      SendDatagram(ip, port, reply, BuildQueryReply(part, reply, sizeof reply));
    }
  }
}

// A check whose last query went unanswered: a candidate is not listed, a shutdown or restart
// check drops the server, and a routine recheck is left to expiry.
static void CheckWentSilent(int32_t index) {
  MasterEntry *entry = &entries[index];
  if (entry->state == ENTRY_CANDIDATE) {
    Log("verification failed %s: %s", entry->ip, entry->port, "no answer");
    RemoveEntry(index);
  } else if (entry->dropIfSilent) {
    Log(entry->answerIsHeard ? "dropped %s: %s" : "shutdown %s%s", entry->ip, entry->port,
        entry->answerIsHeard ? "no answer after the restart" : "");
    RemoveEntry(index);
  } else {
    entry->attempts = 0;
  }
}

static void RunEntryRules(int32_t index, uint64_t now) {
  MasterEntry *entry = &entries[index];
  uint64_t expire = (uint64_t)masterOptions.expireSeconds * 1000;
  bool unheard = now - entry->lastHeard > expire;
  if (entry->state == ENTRY_LISTED && (unheard || (entry->lastAnswer && now - entry->lastAnswer > expire))) {
    Log("expired %s%s", entry->ip, entry->port, unheard ? "" : ": heartbeats, but no answer");
    RemoveEntry(index);
  } else if (entry->wantQuery && now - entry->querySentAt >= CANDIDATE_WAIT_MS) {
    RemoveEntry(index);  // no budget came its way: most likely one of a flood, not logged
  } else if (entry->wantQuery) {
    TrySendQuery(index, now);
  } else if (entry->attempts > 0 && now - entry->querySentAt >= QUERY_TIMEOUT_MS) {
    if (entry->attempts < QUERY_ATTEMPTS) {
      TrySendQuery(index, now);
    } else {
      CheckWentSilent(index);
    }
  }
}

// Retries, silent checks, expiry and queries that waited for the budget; run every tick.
void RunMasterRules(uint64_t now) {
  for (int32_t i = 0; i < entryCapacity; i++) {
    if (entries[i].state != ENTRY_FREE) RunEntryRules(i, now);
  }
}
