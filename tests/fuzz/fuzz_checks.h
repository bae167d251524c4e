// Invariant checks shared by the fuzz targets: a broken invariant names itself on stderr and traps.
#pragma once
#include <stdio.h>
#include <string.h>

#include "table/table.h"

// The trap makes libFuzzer keep the input as a crash artifact, like any sanitizer report.
static inline void FuzzFail(const char *what, int index) {
  fprintf(stderr, "\nfuzz invariant broken: %s (index %d)\n", what, index);
  fflush(stderr);
  __builtin_trap();
}

#define FUZZ_CHECK(condition, what, index)                                                                   \
  do {                                                                                                       \
    if (!(condition)) FuzzFail(what, index);                                                                 \
  } while (0)

static inline bool TerminatedWithin(const char *text, size_t size) { return memchr(text, 0, size) != NULL; }

// Zero bytes throughout: the first byte is zero and each byte equals the one after it.
static inline bool AllZero(const void *bytes, size_t size) {
  const unsigned char *p = (const unsigned char *)bytes;
  return size == 0 || (p[0] == 0 && memcmp(p, p + 1, size - 1) == 0);
}

// What every reader of a record relies on: no text runs past its field and the player list
// stays within its 64 slots.
static inline void CheckRecordFields(const ServerRecord *record, int index) {
  FUZZ_CHECK(TerminatedWithin(record->address, sizeof record->address), "address not terminated", index);
  FUZZ_CHECK(TerminatedWithin(record->hostName, sizeof record->hostName), "hostName not terminated", index);
  FUZZ_CHECK(TerminatedWithin(record->mapName, sizeof record->mapName), "mapName not terminated", index);
  FUZZ_CHECK(record->playerCount >= 0 && record->playerCount <= MAX_PLAYERS, "playerCount outside 0..64",
             index);
  for (int i = 0; i < MAX_PLAYERS; i++) {
    const char *name = record->players[i].name;
    FUZZ_CHECK(TerminatedWithin(name, PLAYER_NAME_SIZE), "player name not terminated", index * 100 + i);
  }
}

// The table as a whole: a count within 64, sound records below it and only zero bytes above it.
static inline void CheckTable(void) {
  FUZZ_CHECK(serverCount >= 0 && serverCount <= MAX_SERVERS, "serverCount outside 0..64", serverCount);
  for (int i = 0; i < serverCount; i++) CheckRecordFields(&records[i], i);
  for (int i = serverCount; i < MAX_SERVERS; i++) {
    FUZZ_CHECK(AllZero(&records[i], sizeof records[i]), "slot above serverCount not zero", i);
  }
}

// Lines as ReadLine splits them: each line feed ends one, and a final piece without one is the last.
static inline int CountLines(const unsigned char *data, size_t size) {
  int lines = 0;
  for (size_t i = 0; i < size; i++) {
    if (data[i] == '\n') lines++;
  }
  if (size > 0 && data[size - 1] != '\n') lines++;
  return lines;
}
