// The server table and the operations every subsystem performs on it.
#include "table/table.h"

#include <string.h>

ServerRecord records[MAX_SERVERS];
int32_t serverCount;
uint32_t reachedAddresses[MAX_SERVERS];

// Keeps address, port and the master-list flag; everything else, the bytes of address after
// its terminator included, becomes zero.
void ResetReplyData(ServerRecord *record) {
  char address[TEXT_FIELD_SIZE];
  uint16_t port = record->port;
  int32_t fromMasterList = record->fromMasterList;
  CopyText(address, sizeof address, record->address);
  memset(record, 0, sizeof *record);
  CopyText(record->address, sizeof record->address, address);
  record->port = port;
  record->fromMasterList = fromMasterList;
  uintptr_t at = (uintptr_t)record, first = (uintptr_t)records;  // a copy outside the table has none
  if (at >= first && at < first + sizeof records) reachedAddresses[(at - first) / sizeof *record] = 0;
}

bool AppendServer(const char *address, uint16_t port) {
  if (serverCount >= MAX_SERVERS) return false;  // the table can't hold any more
  ServerRecord *record = &records[serverCount];
  memset(record, 0, sizeof *record);
  CopyText(record->address, sizeof record->address, address);
  record->port = port;
  record->fromMasterList = 1;
  reachedAddresses[serverCount] = 0;
  serverCount++;
  return true;
}

// Drops the records of an earlier master list; the others move to the front in their order
// and the freed slots are zeroed, so no stale record lingers beyond serverCount.
void RemoveMasterListRecords(void) {
  int32_t kept = 0;
  for (int32_t i = 0; i < serverCount; i++) {
    if (records[i].fromMasterList != 0) continue;
    if (kept != i) memcpy(&records[kept], &records[i], sizeof records[i]);
    reachedAddresses[kept] = reachedAddresses[i];
    kept++;
  }
  for (int32_t i = kept; i < serverCount; i++) {
    memset(&records[i], 0, sizeof records[i]);
    reachedAddresses[i] = 0;
  }
  serverCount = kept;
}

// A record read from a file written by something else may lack terminators; the last byte of
// every text field is made one, so no later reader runs past a field.
void TerminateTextFields(ServerRecord *record) {
  record->address[TEXT_FIELD_SIZE - 1] = 0;
  record->hostName[TEXT_FIELD_SIZE - 1] = 0;
  record->mapName[TEXT_FIELD_SIZE - 1] = 0;
  for (int i = 0; i < MAX_PLAYERS; i++) record->players[i].name[PLAYER_NAME_SIZE - 1] = 0;
}

int RecordIndex(const ServerRecord *record) { return (int)(record - records); }

const char *PluralSuffix(int32_t count) { return count == 1 ? "" : "s"; }
