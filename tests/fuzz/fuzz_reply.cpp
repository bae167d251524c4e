// Fuzz target: a status reply parsed into a record that sits between guard bytes.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "fuzz_checks.h"
#include "query/reply.h"

enum { GUARD_SIZE = 64, GUARD_BYTE = 0xA5 };

// An overrun of the record lands in the guards, which the sanitizer cannot see inside one object.
struct GuardedRecord {
  uint8_t before[GUARD_SIZE];
  ServerRecord record;
  uint8_t after[GUARD_SIZE];
};

static GuardedRecord guarded;

// The record as a query thread hands it over: reply data reset at the start of the pass, then
// the query start time and the ping written just before the parse.
static void PrepareRecord(ServerRecord *record) {
  memset(&guarded, GUARD_BYTE, sizeof guarded);
  CopyText(record->address, sizeof record->address, "127.0.0.1");
  record->port = 27910;
  record->fromMasterList = 1;
  ResetReplyData(record);
  record->queryStartTime = 0xC0FFEE01u;
  record->ping = 87;
}

static bool GuardsIntact(void) {
  for (int i = 0; i < GUARD_SIZE; i++) {
    if (guarded.before[i] != GUARD_BYTE || guarded.after[i] != GUARD_BYTE) return false;
  }
  return true;
}

// The parse writes host name, map name, player limit, players and their count; nothing else.
static void CheckUntouched(const ServerRecord *record, const ServerRecord *earlier) {
  FUZZ_CHECK(GuardsIntact(), "bytes around the record written", 0);
  FUZZ_CHECK(memcmp(record->address, earlier->address, sizeof record->address) == 0, "address changed", 0);
  FUZZ_CHECK(record->port == earlier->port, "port changed", 0);
  FUZZ_CHECK(memcmp(record->reserved, earlier->reserved, sizeof record->reserved) == 0, "gap at 770 written",
             0);
  FUZZ_CHECK(record->queryStartTime == earlier->queryStartTime, "queryStartTime changed", 0);
  FUZZ_CHECK(record->ping == earlier->ping, "ping changed", 0);
  FUZZ_CHECK(record->fromMasterList == earlier->fromMasterList, "fromMasterList changed", 0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (size_t)INT32_MAX) return 0;
  ServerRecord *record = &guarded.record;
  PrepareRecord(record);
  ServerRecord earlier;
  memcpy(&earlier, record, sizeof earlier);

  // libFuzzer hands over the input in a heap block of exactly size bytes, so reading past
  // length is a heap overflow the sanitizer reports.
  ParseStatusReply(record, (const char *)data, (int32_t)size);

  CheckUntouched(record, &earlier);
  CheckRecordFields(record, 0);
  int playerLines = CountLines(data, size) - 2;  // the header and the serverinfo line come first
  FUZZ_CHECK(record->playerCount <= (playerLines > 0 ? playerLines : 0), "more players than player lines",
             record->playerCount);
  for (int i = record->playerCount; i < MAX_PLAYERS; i++) {
    FUZZ_CHECK(AllZero(&record->players[i], sizeof record->players[i]), "player slot past the count written",
               i);
  }
  return 0;
}
