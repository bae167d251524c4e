// Cell texts, ping images and sort rules of the server and player lists.
#include <stdio.h>
#include <string.h>

#include "ui/ui.h"

int32_t serverSortColumn = -1;
int32_t playerSortColumn = -1;

enum { SERVER_IMAGE = 0, PING_GOOD = 1, PING_FAIR = 2, PING_POOR = 3 };

int PingImageIndex(int32_t ping) {
  if (ping <= 150) return PING_GOOD;  // signed: a negative ping counts as good
  if (ping <= 300) return PING_FAIR;
  return PING_POOR;
}

// Smaller first gives -1; used with swapped arguments for the descending columns.
static int CompareInts(int32_t a, int32_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

// Byte-wise, as the standard string comparison does it.
static int CompareTexts(const char *a, const char *b) { return strcmp(a, b); }

int CompareServerRecords(const ServerRecord *a, const ServerRecord *b, int column, int sortColumn) {
  if (column == sortColumn) {  // the list already shows this column's natural order: reverse it
    const ServerRecord *t = a;
    a = b;
    b = t;
  }
  switch (column) {
    case SERVER_COLUMN_HOST: return CompareTexts(a->hostName, b->hostName);
    case SERVER_COLUMN_ADDRESS: return CompareTexts(a->address, b->address);
    case SERVER_COLUMN_MAP: return CompareTexts(a->mapName, b->mapName);
    case SERVER_COLUMN_PLAYERS: return CompareInts(b->playerCount, a->playerCount);  // fullest first
    case SERVER_COLUMN_PING: return CompareInts(a->ping, b->ping);
    default: return 0;
  }
}

int ComparePlayerEntries(const PlayerEntry *a, const PlayerEntry *b, int column, int sortColumn) {
  if (column == sortColumn) {
    const PlayerEntry *t = a;
    a = b;
    b = t;
  }
  switch (column) {
    case PLAYER_COLUMN_NAME: return CompareTexts(a->name, b->name);
    case PLAYER_COLUMN_SCORE: return CompareInts(b->score, a->score);  // highest score first
    case PLAYER_COLUMN_PING: return CompareInts(a->ping, b->ping);
    default: return 0;
  }
}

int32_t NextSortColumn(int32_t sortColumn, int clickedColumn) {
  return sortColumn == clickedColumn ? -1 : clickedColumn;
}

bool FormatServerCell(const ServerRecord *record, int column, char *buffer, int bufferSize) {
  if (buffer == NULL || bufferSize <= 0) return false;
  size_t size = (size_t)bufferSize;
  switch (column) {
    case SERVER_COLUMN_HOST: CopyText(buffer, size, record->hostName); return true;
    case SERVER_COLUMN_ADDRESS:
      snprintf(buffer, size, "%s:%d", record->address, (int)record->port);
      return true;
    case SERVER_COLUMN_MAP: CopyText(buffer, size, record->mapName); return true;
    case SERVER_COLUMN_PLAYERS:
      snprintf(buffer, size, "%d / %d", (int)record->playerCount, (int)record->maxClients);
      return true;
    case SERVER_COLUMN_PING: snprintf(buffer, size, "%d", (int)record->ping); return true;
    default: return false;
  }
}

bool FormatPlayerCell(const PlayerEntry *player, int column, char *buffer, int bufferSize) {
  if (buffer == NULL || bufferSize <= 0) return false;
  size_t size = (size_t)bufferSize;
  switch (column) {
    case PLAYER_COLUMN_NAME: CopyText(buffer, size, player->name); return true;
    case PLAYER_COLUMN_SCORE: snprintf(buffer, size, "%d", (int)player->score); return true;
    case PLAYER_COLUMN_PING: snprintf(buffer, size, "%d", (int)player->ping); return true;
    default: return false;
  }
}
