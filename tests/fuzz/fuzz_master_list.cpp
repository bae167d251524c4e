// Fuzz target: a master list body joined read by read, checked and merged into a table that
// already holds records of its own and of an earlier list.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "fuzz_checks.h"
#include "master/master.h"

// The records that are not from a master list, in table order, as they were before the merge.
static ServerRecord keptRecords[MAX_SERVERS];
static int32_t keptCount;

// A deterministic mix of the input's bytes decides how full the table is and which records
// came from a list, so the seeds stay plain text and every input still sees a different table.
static uint64_t MixInput(const uint8_t *data, size_t size) {
  uint64_t hash = 1469598103934665603ull;
  for (size_t i = 0; i < size; i++) hash = (hash ^ data[i]) * 1099511628211ull;
  return hash ^ (hash >> 29);
}

// Every byte of a filled record is set, so a stray write or a lost byte shows in the compare.
static void FillRecord(ServerRecord *record, int index) {
  memset(record, 0x30 + index % 40, sizeof *record);
  snprintf(record->address, sizeof record->address, "kept%02d.example:%d", index, 27910 + index);
  snprintf(record->hostName, sizeof record->hostName, "Host %d", index);
  snprintf(record->mapName, sizeof record->mapName, "q2dm%d", index % 8 + 1);
  record->port = (uint16_t)(27910 + index);
  record->playerCount = index % (MAX_PLAYERS + 1);
  for (int i = 0; i < MAX_PLAYERS; i++)
    snprintf(record->players[i].name, PLAYER_NAME_SIZE, "p%d.%d", index, i);
}

// The filled records are made once; each input then only copies them and sets the flags.
static void PrefillTable(uint64_t mix) {
  static ServerRecord filled[MAX_SERVERS];
  static bool made;
  if (!made) {
    for (int i = 0; i < MAX_SERVERS; i++) FillRecord(&filled[i], i);
    made = true;
  }
  memset(records, 0, sizeof records);
  serverCount = (int32_t)(mix % (MAX_SERVERS + 1));
  uint64_t listMask = mix * 0x9E3779B97F4A7C15ull;
  keptCount = 0;
  for (int i = 0; i < serverCount; i++) {
    memcpy(&records[i], &filled[i], sizeof records[i]);
    bool fromList = ((listMask >> i) & 1) != 0;
    records[i].fromMasterList = fromList ? 1 + i % 3 : 0;  // any non-zero value marks a list record
    if (!fromList) memcpy(&keptRecords[keptCount++], &records[i], sizeof records[i]);
  }
}

// The address and port one line gives: the line ends at its first NUL or after 2047
// characters, the address is what comes before the first colon, cut to 255 characters.
static void ExpectedServer(const char *line, size_t length, char *address, uint16_t *port) {
  char text[LINE_BUFFER_SIZE];
  CopyTextN(text, sizeof text, line, length);
  char *colon = strchr(text, ':');
  if (colon) *colon = 0;
  CopyText(address, TEXT_FIELD_SIZE, text);
  *port = colon ? ReadPort(colon + 1) : 0;
}

// An appended record holds its address, port and flag, and zero bytes everywhere else.
static void CheckAppended(const ServerRecord *record, int index, const char *address, uint16_t port) {
  FUZZ_CHECK(record->fromMasterList == 1, "appended record lacks the master-list flag", index);
  FUZZ_CHECK(strlen(record->address) <= TEXT_FIELD_SIZE - 1, "appended address too long", index);
  FUZZ_CHECK(strcmp(record->address, address) == 0, "appended address differs from its line", index);
  FUZZ_CHECK(record->port == port, "appended port differs from its line", index);
  ServerRecord rest;
  memcpy(&rest, record, sizeof rest);
  memset(rest.address, 0, strlen(rest.address) + 1);
  rest.port = 0;
  rest.fromMasterList = 0;
  FUZZ_CHECK(AllZero(&rest, sizeof rest), "appended record has bytes beyond its address and port", index);
}

// After a merge of text: the kept records first, unchanged and in order, then one record per
// line of the text until the table is full.
static void CheckMerge(const char *text, int32_t length) {
  CheckTable();
  FUZZ_CHECK(serverCount >= keptCount, "records that are not from a list were lost", serverCount);
  for (int i = 0; i < keptCount; i++) {
    FUZZ_CHECK(memcmp(&records[i], &keptRecords[i], sizeof records[i]) == 0, "kept record changed or moved",
               i);
  }
  int lines = CountLines((const uint8_t *)text, (size_t)length);
  int room = MAX_SERVERS - keptCount;
  FUZZ_CHECK(serverCount - keptCount == (lines < room ? lines : room), "not one record per line",
             serverCount);
  const char *line = text;
  const char *end = text + length;
  for (int i = keptCount; i < serverCount; i++) {
    const char *lineFeed = (const char *)memchr(line, '\n', (size_t)(end - line));
    size_t lineLength = lineFeed ? (size_t)(lineFeed - line) : (size_t)(end - line);
    char address[TEXT_FIELD_SIZE];
    uint16_t port;
    ExpectedServer(line, lineLength, address, &port);
    CheckAppended(&records[i], i, address, port);
    line += lineFeed ? lineLength + 1 : lineLength;
  }
}

static bool StartsWithDigit(const char *text, int32_t length) {
  return length > 0 && text[0] >= '0' && text[0] <= '9';
}

// After each read the text is the reads' parts before their first NUL, joined and terminated.
static void CheckJoined(const MasterText *body, const char *expected, int32_t expectedLength, int32_t total) {
  FUZZ_CHECK(body->total == total, "total differs from the bytes received", body->total);
  FUZZ_CHECK(body->text != NULL, "no text after a non-empty read", total);
  FUZZ_CHECK(body->length == expectedLength, "joined length differs from the parts", body->length);
  FUZZ_CHECK(body->length < body->capacity, "no room for the terminator", body->capacity);
  FUZZ_CHECK(body->capacity <= MASTER_BODY_LIMIT + 1, "buffer beyond the body limit", body->capacity);
  FUZZ_CHECK(body->text[body->length] == 0, "joined text not terminated", body->length);
  FUZZ_CHECK(memcmp(body->text, expected, (size_t)expectedLength) == 0, "joined text differs from the parts",
             0);
  int32_t left = MASTER_BODY_LIMIT - total;
  int32_t allowance = left <= 0 ? 0 : (left < MASTER_READ_SIZE ? left : MASTER_READ_SIZE);
  FUZZ_CHECK(MasterReadAllowance(body) == allowance, "read allowance wrong", MasterReadAllowance(body));
}

// Feeds the input in reads of varying size, each in its own exact-size block as a read of
// the download would deliver it, then checks and merges the body as the download does.
static void JoinAndMerge(const uint8_t *data, size_t size, uint64_t mix) {
  MasterText body;
  memset(&body, 0, sizeof body);
  FUZZ_CHECK(AppendMasterChunk(&body, (const char *)data, 0) && body.text == NULL,
             "empty read changed the body", 0);
  char *expected = (char *)malloc(size + 1);
  int32_t expectedLength = 0;
  uint64_t sizes = mix | 1;
  for (size_t offset = 0; offset < size;) {
    sizes ^= sizes << 13;  // xorshift: read sizes that differ from input to input
    sizes ^= sizes >> 7;
    sizes ^= sizes << 17;
    size_t count = 1 + (size_t)(sizes % (sizes & 8 ? 64 : MASTER_READ_SIZE));
    if (count > size - offset) count = size - offset;
    char *chunk = (char *)malloc(count);
    memcpy(chunk, data + offset, count);
    size_t piece = strnlen(chunk, count);
    memcpy(expected + expectedLength, chunk, piece);
    expectedLength += (int32_t)piece;
    offset += count;
    FUZZ_CHECK(AppendMasterChunk(&body, chunk, (int32_t)count), "join failed", (int)offset);
    free(chunk);
    CheckJoined(&body, expected, expectedLength, (int32_t)offset);
  }
  free(expected);
  if (body.text == NULL) return;
  int32_t usable = UsableTextLength(body.text, body.total);
  FUZZ_CHECK(usable == body.length, "usable length differs from the joined text", usable);
  bool accepted = IsMasterListBody(body.text, usable);
  FUZZ_CHECK(accepted == StartsWithDigit(body.text, usable), "body check does not follow the first byte", 0);
  if (accepted) {
    PrefillTable(mix);
    MergeMasterList(body.text, usable);
    CheckMerge(body.text, usable);
  }
  ReleaseMasterText(&body);
  FUZZ_CHECK(body.text == NULL && body.length == 0 && body.total == 0, "released body not cleared", 0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (size_t)MASTER_BODY_LIMIT) return 0;
  const char *text = (const char *)data;  // an exact-size heap block: no terminator to lean on
  int32_t length = (int32_t)size;
  uint64_t mix = MixInput(data, size);
  const char *nul = (const char *)memchr(text, 0, size);
  FUZZ_CHECK(UsableTextLength(text, length) == (nul ? (int32_t)(nul - text) : length), "usable length wrong",
             0);
  FUZZ_CHECK(IsMasterListBody(text, length) == StartsWithDigit(text, length), "body check wrong", 0);

  // The merge itself takes any bytes, NUL and all, and reads only length of them.
  PrefillTable(mix);
  MergeMasterList(text, length);
  CheckMerge(text, length);

  JoinAndMerge(data, size, mix);
  return 0;
}
