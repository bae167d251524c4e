// The server cache file: the records in use as raw 2328-byte images, no header.
#include <stdio.h>
#include <string.h>

#include "settings/settings.h"

// The file may have been written by something else: no text field may lack its terminator,
// and a player count outside the 64 slots would send the player list past the record.
static void RepairRecord(ServerRecord *record) {
  TerminateTextFields(record);
  if (record->playerCount < 0) record->playerCount = 0;
  if (record->playerCount > MAX_PLAYERS) record->playerCount = MAX_PLAYERS;
}

void ReadServerCache(FILE *file) {
  ServerRecord record;
  // A short read is the end of the file or a trailing piece; either way nothing more to take.
  // Reading into a local keeps a partial record out of the table's unused slots.
  while (serverCount < MAX_SERVERS && fread(&record, sizeof record, 1, file) == 1) {
    // No address, no server: a save cut short or another writer's zeros would otherwise be
    // counted, queried and saved again for good, as no merge removes a record of its own.
    if (record.address[0] == 0) continue;
    RepairRecord(&record);
    memcpy(&records[serverCount], &record, sizeof record);
    serverCount++;
  }
}

bool WriteServerCache(FILE *file) {
  bool written = true;
  // A failed write goes on with the next record: the file keeps what could be written.
  for (int32_t i = 0; i < serverCount && i < MAX_SERVERS; i++) {
    if (fwrite(&records[i], sizeof records[i], 1, file) != 1) written = false;
  }
  return written;
}

void LoadServerCache(const char *path) {
  FILE *file = fopen(path, "rb");
  if (file == NULL) return;  // normally: no run has saved yet
  ReadServerCache(file);
  fclose(file);
}

bool SaveServerCache(const char *path) {
  FILE *file = fopen(path, "wb");
  if (file == NULL) return false;
  WriteServerCache(file);
  fclose(file);
  return true;
}

CacheFileChoice ChooseCacheFile(bool startupExists, bool userExists, NewestRecord record, int startNewer) {
  if (!userExists) return LOAD_STARTUP_FILE;
  if (!startupExists) return LOAD_USER_FILE;
  if (record == RECORD_NAMES_STARTUP) return LOAD_STARTUP_FILE;
  if (record == RECORD_NAMES_USER) return LOAD_USER_FILE;
  return startNewer > 0 ? LOAD_STARTUP_FILE : LOAD_USER_FILE;
}

bool IsRunningBrowserError(uint32_t mutexError) {
  return mutexError == MUTEX_EXISTS_ERROR || mutexError == MUTEX_DENIED_ERROR;
}
