// Fuzz target: the master's datagram handling and rules, fed a script of datagrams and clock steps.
//
// The input is a sequence of steps. A byte with the high bit set moves the clock on by its low
// seven bits in tenths of a second and runs the rules; any other byte picks one of eight sources
// (two addresses, four ports), and the next byte says how many of the following bytes form the
// datagram that source sends. Whatever the script, no server may be listed that was not sent our
// status query and then answered it from its own address, and no table may pass its limit.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "fuzz_checks.h"
#include "masterd.h"

enum { SOURCES = 8 };

static bool asked[SOURCES];     // our status query went to this source
static bool answered[SOURCES];  // and it answered afterwards

static uint32_t SourceIp(int source) { return 0x7F000001u + (uint32_t)(source >> 2); }
static uint16_t SourcePort(int source) { return (uint16_t)(27910 + (source & 3)); }

static int SourceOf(uint32_t ip, uint16_t port) {
  for (int s = 0; s < SOURCES; s++) {
    if (SourceIp(s) == ip && SourcePort(s) == port) return s;
  }
  return -1;
}

static void CheckSend(uint32_t ip, uint16_t port, const char *data, int32_t length) {
  FUZZ_CHECK(length > 0 && length <= DATAGRAM_SIZE, "datagram size", length);
  FUZZ_CHECK(data[0] == '\xff', "reply without its marker", length);
  int source = SourceOf(ip, port);
  FUZZ_CHECK(source >= 0, "sent to an address nobody spoke from", (int)port);
  if (length == 11 && memcmp(data + 4, "status", 6) == 0) asked[source] = true;
}

static void Start(void) {
  MasterOptions options;
  DefaultOptions(&options);
  options.allowPrivate = true;
  options.maxServers = 3;
  options.maxCandidates = 4;
  options.maxPerIp = 3;
  options.maxListed = 2;
  options.verifyRate = 20;
  options.expireSeconds = 30;
  options.recheckSeconds = 5;
  options.maxSources = 16;
  FUZZ_CHECK(StartMasterList(&options, 7), "tables not allocated", 0);
  SendDatagram = CheckSend;
  LogLine = NULL;
  memset(asked, 0, sizeof asked);
  memset(answered, 0, sizeof answered);
}

static void CheckTables(void) {
  FUZZ_CHECK(candidateCount >= 0 && candidateCount <= masterOptions.maxCandidates, "candidates",
             candidateCount);
  FUZZ_CHECK(listedCount >= 0 && listedCount <= masterOptions.maxServers, "listed", listedCount);
  FUZZ_CHECK(listOrderCount == listedCount, "list order out of step", listOrderCount);
  for (int32_t i = 0; i < listOrderCount; i++) {
    const MasterEntry *entry = &entries[listOrder[i]];
    int source = SourceOf(entry->ip, entry->port);
    FUZZ_CHECK(entry->state == ENTRY_LISTED, "a free or candidate slot in the list", i);
    FUZZ_CHECK(source >= 0 && answered[source], "listed without answering our query", i);
  }
  char text[4 * LIST_LINE_SIZE];
  FUZZ_CHECK(ServersTextSize() <= (int32_t)sizeof text, "servers.txt size", ServersTextSize());
  int32_t length = BuildServersText(text, ServersTextSize());
  FUZZ_CHECK(length == (int32_t)strlen(text) && length < ServersTextSize(), "servers.txt length", length);
}

// A datagram in a heap block of exactly its size, so a read past it is a reported overflow.
static void Deliver(int source, const uint8_t *data, size_t size, uint64_t now) {
  char *copy = (char *)malloc(size ? size : 1);
  memcpy(copy, data, size);
  if (ClassifyDatagram(copy, (int32_t)size) == DATAGRAM_STATUS && asked[source]) answered[source] = true;
  HandleDatagram(SourceIp(source), SourcePort(source), copy, (int32_t)size, now);
  free(copy);
}

// The same bytes read as a state file: whatever they hold, the list keeps to its limits.
static void LoadAsState(const uint8_t *data, size_t size) {
  Start();
  LoadStateText((const char *)data, (int32_t)size, 1000000, 1800000000);
  FUZZ_CHECK(listedCount <= masterOptions.maxServers && listOrderCount == listedCount, "state load",
             listedCount);
  StopMasterList();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 65536) return 0;
  LoadAsState(data, size);
  Start();
  uint64_t now = 1000;
  for (size_t i = 0; i < size;) {
    uint8_t step = data[i++];
    if (step & 0x80) {
      now += (uint64_t)(step & 0x7F) * 100;
      RunMasterRules(now);
    } else {
      size_t length = i < size ? data[i++] : 0;
      if (length > size - i) length = size - i;
      Deliver(step % SOURCES, data + i, length, now);
      i += length;
    }
    CheckTables();
  }
  StopMasterList();
  return 0;
}
