// The status request and the parsing of a server's status reply into its record.
#include "query/reply.h"

#include <stdlib.h>
#include <string.h>

const char STATUS_QUERY[STATUS_QUERY_SIZE] = {'\xff', '\xff', '\xff', '\xff', 's', 't',
                                              'a',    't',    'u',    's',    '\0'};

// A piece of a line that is not terminated where it ends.
struct TextSpan {
  const char *start;
  size_t length;
};

static char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

// Compares without regard to letter case, as the keys may come in any case.
static bool SpanIsKey(TextSpan span, const char *key) {
  size_t keyLength = strlen(key);
  if (span.length != keyLength) return false;
  for (size_t i = 0; i < keyLength; i++) {
    if (LowerAscii(span.start[i]) != key[i]) return false;
  }
  return true;
}

// Finds the next run of characters other than backslash from *cursor; runs of backslashes
// only separate tokens, so no token is ever empty. False at the end of the line.
static bool NextInfoToken(const char **cursor, TextSpan *token) {
  const char *p = *cursor;
  while (*p == '\\') p++;
  if (*p == 0) return false;
  token->start = p;
  while (*p != 0 && *p != '\\') p++;
  token->length = (size_t)(p - token->start);
  *cursor = p;
  return true;
}

// The value after key in a serverinfo line of length bytes, read pair by pair (\key\value) as
// the server wrote it, so a host name that happens to spell a key is never taken for one. A NUL
// ends the line. False, with value untouched, when the key is not there; key is in lower case.
bool ServerInfoValue(const char *line, size_t length, const char *key, char *value, size_t valueSize) {
  const char *p = line;
  const char *end = line + length;
  if (p < end && *p == '\\') p++;
  while (p < end && *p != 0) {
    TextSpan name = {p, 0};
    while (p < end && *p != 0 && *p != '\\') p++;
    name.length = (size_t)(p - name.start);
    if (p == end || *p != '\\') return false;  // a key without a value
    const char *valueStart = ++p;
    while (p < end && *p != 0 && *p != '\\') p++;
    if (SpanIsKey(name, key)) {
      CopyTextN(value, valueSize, valueStart, (size_t)(p - valueStart));
      return true;
    }
    if (p < end && *p == '\\') p++;
  }
  return false;
}

// Each token is judged by the token before it; there is no fixed key or value position.
void ParseServerInfo(ServerRecord *record, const char *line) {
  TextSpan previous = {"", 0};
  TextSpan token;
  const char *cursor = line;
  while (NextInfoToken(&cursor, &token)) {
    if (SpanIsKey(previous, "mapname")) {
      CopyTextN(record->mapName, sizeof record->mapName, token.start, token.length);
    } else if (SpanIsKey(previous, "maxclients")) {
      record->maxClients = ReadInt32(token.start);  // stops at the backslash after the digits
    } else if (SpanIsKey(previous, "hostname")) {
      CopyTextN(record->hostName, sizeof record->hostName, token.start, token.length);
    }
    previous = token;
  }
}

// Finds the field that starts after the spaces at *cursor and moves past it.
static bool NextPlayerField(const char **cursor, TextSpan *field) {
  const char *p = *cursor;
  while (*p == ' ') p++;
  if (*p == 0) return false;
  field->start = p;
  while (*p != 0 && *p != ' ') p++;
  field->length = (size_t)(p - field->start);
  *cursor = p;
  return true;
}

// A line counts as a player only with a score field, a ping field and a quoted name; any other
// line (an empty one, a cut-off one, stray text) is skipped and leaves *player untouched, so a
// damaged reply never adds nameless players to the list or to the player total. Fields that
// are present but not numbers read as 0, the way the standard conversion reads them.
bool ParsePlayerLine(PlayerEntry *player, const char *line) {
  const char *cursor = line;
  TextSpan score, ping;
  if (!NextPlayerField(&cursor, &score) || !NextPlayerField(&cursor, &ping)) return false;
  while (*cursor == ' ') cursor++;
  if (*cursor != '"') return false;
  const char *nameStart = cursor + 1;
  const char *nameEnd = strrchr(nameStart, '"');  // the last quote, so quotes may sit inside
  if (nameEnd == NULL) return false;

  PlayerEntry parsed;
  memset(&parsed, 0, sizeof parsed);
  parsed.score = ReadInt32(score.start);
  parsed.ping = ReadInt32(ping.start);
  CopyTextN(parsed.name, sizeof parsed.name, nameStart, (size_t)(nameEnd - nameStart));
  *player = parsed;
  return true;
}

// Reads the player lines into players from index 0; returns how many were stored.
static int32_t ParsePlayerLines(ServerRecord *record, char **position, int32_t *remaining) {
  int32_t count = 0;
  char *line;
  while (count < MAX_PLAYERS && (line = ReadLine(position, remaining)) != NULL) {
    if (ParsePlayerLine(&record->players[count], line)) count++;
    free(line);
  }
  return count;
}

// The first line is the reply's header and is not looked at. Player lines past the last
// entry are not read at all.
void ParseStatusReply(ServerRecord *record, const char *data, int32_t length) {
  char *position = (char *)data;  // ReadLine only reads through it
  int32_t remaining = length;
  record->playerCount = 0;
  char *header = ReadLine(&position, &remaining);
  if (header == NULL) return;
  free(header);
  char *serverInfo = ReadLine(&position, &remaining);
  if (serverInfo == NULL) return;
  ParseServerInfo(record, serverInfo);
  free(serverInfo);
  record->playerCount = ParsePlayerLines(record, &position, &remaining);
}

// Wrap-around safe: times are compared by their difference.
uint32_t NextQueryStart(uint32_t due, uint32_t started) {
  uint32_t onSchedule = due + QUERY_SPACING_MS;
  uint32_t afterLast = started + QUERY_SPACING_MS;
  return (int32_t)(afterLast - onSchedule) > 0 ? afterLast : onSchedule;
}
