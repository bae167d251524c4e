// Fuzz target: cache-file loading, with the input as the file's bytes.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "settings/settings.h"
#include "fuzz_checks.h"

enum { RECORD_SIZE = (int)sizeof(ServerRecord), TEMP_PATH_SIZE = 512 };

static char tempPath[TEMP_PATH_SIZE];

static void RemoveTempFile(void) {
  if (tempPath[0] != 0) unlink(tempPath);
}

// One file per fuzzing process, so parallel jobs never load each other's input.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  (void)argc;
  (void)argv;
  const char *dir = getenv("TMPDIR");
  snprintf(tempPath, sizeof tempPath, "%s/varnet-fuzz-cache-XXXXXX", dir && dir[0] ? dir : "/tmp");
  int fd = mkstemp(tempPath);
  if (fd < 0) {
    fprintf(stderr, "fuzz_cache: cannot create %s\n", tempPath);
    exit(1);
  }
  close(fd);
  atexit(RemoveTempFile);
  return 0;
}

static void WriteTempFile(const uint8_t *bytes, size_t size) {
  FILE *file = fopen(tempPath, "wb");
  if (file == NULL || fwrite(bytes, 1, size, file) != size || fclose(file) != 0) {
    fprintf(stderr, "fuzz_cache: cannot write %s\n", tempPath);
    exit(1);
  }
}

// A loaded record keeps the stored bytes; only the last byte of a text field may have become
// a terminator, and a player count outside 0..64 may have been brought within it.
static void CheckLoadedRecord(const ServerRecord *loaded, const uint8_t *stored, int index) {
  ServerRecord a, b;
  memcpy(&a, loaded, sizeof a);
  memcpy(&b, stored, sizeof b);
  char *aLast[3 + MAX_PLAYERS] = {&a.address[TEXT_FIELD_SIZE - 1], &a.hostName[TEXT_FIELD_SIZE - 1],
                                  &a.mapName[TEXT_FIELD_SIZE - 1]};
  char *bLast[3 + MAX_PLAYERS] = {&b.address[TEXT_FIELD_SIZE - 1], &b.hostName[TEXT_FIELD_SIZE - 1],
                                  &b.mapName[TEXT_FIELD_SIZE - 1]};
  for (int i = 0; i < MAX_PLAYERS; i++) {
    aLast[3 + i] = &a.players[i].name[PLAYER_NAME_SIZE - 1];
    bLast[3 + i] = &b.players[i].name[PLAYER_NAME_SIZE - 1];
  }
  for (int i = 0; i < 3 + MAX_PLAYERS; i++) {
    FUZZ_CHECK(*aLast[i] == *bLast[i] || *aLast[i] == 0, "a field's last byte changed to other than 0",
               index);
    *aLast[i] = *bLast[i] = 0;
  }
  bool countInRange = b.playerCount >= 0 && b.playerCount <= MAX_PLAYERS;
  FUZZ_CHECK(!countInRange || a.playerCount == b.playerCount, "a valid playerCount changed", index);
  a.playerCount = b.playerCount = 0;
  FUZZ_CHECK(memcmp(&a, &b, sizeof a) == 0, "loaded record differs from the file beyond repairs", index);
}

// Loads bytes as the cache file into an empty table: whole records with an address only, at
// most 64.
static void LoadAndCheck(const uint8_t *bytes, size_t size) {
  WriteTempFile(bytes, size);
  memset(records, 0, sizeof records);
  serverCount = 0;
  LoadServerCache(tempPath);
  unlink(tempPath);  // a crash further on must not leave a large file behind
  const uint8_t *kept[MAX_SERVERS];
  int32_t expected = 0;
  for (size_t i = 0; i < size / RECORD_SIZE && expected < MAX_SERVERS; i++)
    if (bytes[i * RECORD_SIZE] != 0) kept[expected++] = bytes + i * RECORD_SIZE;  // address[0]
  FUZZ_CHECK(serverCount == expected, "serverCount differs from the whole records in the file", serverCount);
  CheckTable();
  for (int i = 0; i < serverCount; i++) CheckLoadedRecord(&records[i], kept[i], i);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  memset(records, 0, sizeof records);
  serverCount = 0;
  LoadServerCache("/nonexistent/varnet-fuzz/kestrel.cache");
  FUZZ_CHECK(serverCount == 0 && AllZero(records, sizeof records), "a missing file filled the table", 0);

  LoadAndCheck(data, size);

  // The same bytes repeated past 64 records: the 65th and later must stay out of the table.
  // A file of 65 records costs as much as many short ones, so only every fourth size gets it.
  if (size == 0 || size % 4 != 0 || size > (size_t)MAX_SERVERS * RECORD_SIZE) return 0;
  size_t repeats = (size_t)(MAX_SERVERS + 1) * RECORD_SIZE / size + 1;
  uint8_t *file = (uint8_t *)malloc(repeats * size);
  if (file == NULL) return 0;
  memcpy(file, data, size);
  for (size_t filled = size; filled < repeats * size; filled *= 2) {  // doubling: few copies
    size_t piece = filled < repeats * size - filled ? filled : repeats * size - filled;
    memcpy(file + filled, file, piece);
  }
  LoadAndCheck(file, repeats * size);
  free(file);
  return 0;
}
