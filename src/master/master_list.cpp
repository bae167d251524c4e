// The master list body: joining the received reads, checking the body and merging its lines.
#include <stdlib.h>
#include <string.h>

#include "master/master.h"

bool IsMasterListBody(const char *text, int32_t length) {
  return length > 0 && text[0] >= '0' && text[0] <= '9';
}

// One line is "address:port"; the port is only read up to its first non-digit, so a carriage
// return or anything else behind it is ignored. An address too long for the record is cut.
static void AppendMasterLine(const char *line) {
  const char *colon = strchr(line, ':');
  size_t addressLength = colon ? (size_t)(colon - line) : strlen(line);
  char address[TEXT_FIELD_SIZE];
  CopyTextN(address, sizeof address, line, addressLength);
  AppendServer(address, colon ? ReadPort(colon + 1) : (uint16_t)0);
}

void MergeMasterList(const char *text, int32_t length) {
  RemoveMasterListRecords();
  char *position = (char *)text;  // ReadLine only moves the pointer; the text is not written
  int32_t remaining = length;
  while (serverCount < MAX_SERVERS) {
    char *line = ReadLine(&position, &remaining);
    if (line == NULL) break;  // nothing left (or no memory for the line)
    AppendMasterLine(line);
    free(line);
  }
}

int32_t UsableTextLength(const char *text, int32_t length) {
  int32_t n = 0;
  while (n < length && text[n] != 0) n++;
  return n;
}

int32_t MasterReadAllowance(const MasterText *body) {
  int32_t left = MASTER_BODY_LIMIT - body->total;
  if (left <= 0) return 0;
  return left < MASTER_READ_SIZE ? left : MASTER_READ_SIZE;
}

// Doubling keeps the copies of a long body linear in its size.
static bool GrowMasterText(MasterText *body, int32_t needed) {
  if (needed <= body->capacity) return true;
  if (needed > MASTER_BODY_LIMIT + 1) return false;  // callers never ask for more
  int32_t capacity = body->capacity > 0 ? body->capacity : MASTER_READ_SIZE + 1;
  while (capacity < needed)
    capacity = capacity > MASTER_BODY_LIMIT / 2 ? MASTER_BODY_LIMIT + 1 : capacity * 2;
  char *grown = (char *)realloc(body->text, (size_t)capacity);
  if (grown == NULL) return false;
  if (body->text == NULL) grown[0] = 0;
  body->text = grown;
  body->capacity = capacity;
  return true;
}

bool AppendMasterChunk(MasterText *body, const char *chunk, int32_t count) {
  if (count <= 0) return true;
  int32_t piece = UsableTextLength(chunk, count);
  int32_t room = MASTER_BODY_LIMIT - body->length;
  if (piece > room) piece = room;
  if (!GrowMasterText(body, body->length + piece + 1)) return false;
  memcpy(body->text + body->length, chunk, (size_t)piece);
  body->length += piece;
  body->text[body->length] = 0;
  body->total += count;
  return true;
}

void ReleaseMasterText(MasterText *body) {
  free(body->text);
  memset(body, 0, sizeof *body);
}
