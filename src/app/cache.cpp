// The server cache file: the records in use as raw 2328-byte images, no header.
#include <stdio.h>
#include <string.h>

#include "app/app.h"

// The file may have been written by something else: no text field may lack its terminator,
// and a player count outside the 64 slots would send the player list past the record.
static void RepairRecord(ServerRecord *record) {
  TerminateTextFields(record);
  if (record->playerCount < 0) record->playerCount = 0;
  if (record->playerCount > MAX_PLAYERS) record->playerCount = MAX_PLAYERS;
}

void LoadServerCache(const char *path) {
  FILE *file = fopen(path, "rb");
  if (file == NULL) return;  // normally: no run has saved yet
  ServerRecord record;
  // A short read is the end of the file or a trailing piece; either way nothing more to take.
  // Reading into a local keeps a partial record out of the table's unused slots.
  while (serverCount < MAX_SERVERS && fread(&record, sizeof record, 1, file) == 1) {
    RepairRecord(&record);
    memcpy(&records[serverCount], &record, sizeof record);
    serverCount++;
  }
  fclose(file);
}

bool SaveServerCache(const char *path) {
  FILE *file = fopen(path, "wb");
  if (file == NULL) return false;
  // A failed write is ignored: the file keeps what was written, as nothing can be reported.
  for (int32_t i = 0; i < serverCount && i < MAX_SERVERS; i++) {
    fwrite(&records[i], sizeof records[i], 1, file);
  }
  fclose(file);
  return true;
}
