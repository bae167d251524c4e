// The published list as servers.txt, and the state file that carries the list over a restart.
#include <stdio.h>
#include <string.h>

#include "masterd.h"

static const char STATE_HEADER[] = "varnet-master state 1\n";
enum { STATE_LINE_SIZE = 64 };  // "a.b.c.d:port order age\n" with room to spare

int32_t ServersTextSize(void) { return masterOptions.maxListed * (LIST_LINE_SIZE - 1) + 1; }

// One "a.b.c.d:port" line per published server, in the list's order; empty when none is listed.
int32_t BuildServersText(char *out, int32_t size) {
  int32_t length = 0;
  out[0] = 0;
  for (int32_t i = 0; i < PublishedCount(); i++) {
    const MasterEntry *entry = &entries[listOrder[i]];
    char line[LIST_LINE_SIZE];
    FormatAddress(line, sizeof line, entry->ip, entry->port);
    int32_t lineLength = (int32_t)strlen(line);
    if (length + lineLength + 2 > size) break;  // the caller sized it by ServersTextSize
    memcpy(out + length, line, (size_t)lineLength);
    length += lineLength;
    out[length++] = '\n';
    out[length] = 0;
  }
  return length;
}

int32_t StateTextSize(void) {
  return (int32_t)sizeof STATE_HEADER + masterOptions.maxServers * STATE_LINE_SIZE;
}

// A header line, then "a.b.c.d:port order heard" per listed server: its place in the list and
// the wall-clock second of its last heartbeat, so expiry goes on across the restart.
int32_t BuildStateText(char *out, int32_t size, uint64_t now, int64_t wallNow) {
  int32_t length = snprintf(out, (size_t)size, "%s", STATE_HEADER);
  for (int32_t i = 0; i < listOrderCount && length < size; i++) {
    const MasterEntry *entry = &entries[listOrder[i]];
    char address[LIST_LINE_SIZE];
    FormatAddress(address, sizeof address, entry->ip, entry->port);
    int64_t heard = wallNow - (int64_t)((now - entry->lastHeard) / 1000);
    length += snprintf(out + length, (size_t)(size - length), "%s %llu %lld\n", address,
                       (unsigned long long)entry->order, (long long)heard);
  }
  return length < size ? length : size - 1;
}

// Reads an unsigned decimal number of at most 18 digits from *p up to end.
static bool ReadDecimal(const char **p, const char *end, int64_t *value) {
  int64_t number = 0;
  int digits = 0;
  while (*p < end && **p >= '0' && **p <= '9') {
    if (++digits > 18) return false;  // before the multiplication, which would overflow
    number = number * 10 + (**p - '0');
    (*p)++;
  }
  *value = number;
  return digits > 0;
}

// One state line of length bytes (no line feed): the address, the order and the heartbeat time.
static bool ParseStateLine(const char *line, size_t length, uint32_t *ip, uint16_t *port, int64_t *order,
                           int64_t *heard) {
  const char *space = (const char *)memchr(line, ' ', length);
  if (space == NULL || !ParseAddress(line, (size_t)(space - line), ip, port)) return false;
  const char *p = space + 1, *end = line + length;
  if (!ReadDecimal(&p, end, order) || p == end || *p != ' ') return false;
  p++;
  return ReadDecimal(&p, end, heard) && p == end;
}

// Adds one loaded server as listed, to be checked at once; one that answers nothing is dropped.
static bool LoadStateEntry(uint32_t ip, uint16_t port, int64_t order, uint64_t age, uint64_t now) {
  if (FindEntry(ip, port) >= 0 || listedCount >= masterOptions.maxServers) return false;
  if (age > (uint64_t)masterOptions.expireSeconds * 1000) return false;
  int32_t index = AddEntry(ip, port, ENTRY_LISTED, now);
  if (index < 0) return false;
  MasterEntry *entry = &entries[index];
  entry->lastHeard = now > age ? now - age : 0;
  entry->order = (uint64_t)order;
  entry->wantQuery = entry->dropIfSilent = entry->answerIsHeard = true;
  return true;
}

// Loads a state file's body; lines that don't parse, repeat an address or are past the expiry
// are skipped. Returns how many servers were loaded; the list's order goes on after theirs.
int32_t LoadStateText(const char *data, int32_t length, uint64_t now, int64_t wallNow) {
  int32_t headerLength = (int32_t)sizeof STATE_HEADER - 1;
  if (length < headerLength || memcmp(data, STATE_HEADER, (size_t)headerLength) != 0) return 0;
  const char *p = data + headerLength, *end = data + length;
  int32_t loaded = 0;
  while (p < end) {
    const char *lineFeed = (const char *)memchr(p, '\n', (size_t)(end - p));
    const char *lineEnd = lineFeed ? lineFeed : end;
    uint32_t ip;
    uint16_t port;
    int64_t order, heard;
    if (ParseStateLine(p, (size_t)(lineEnd - p), &ip, &port, &order, &heard)) {
      uint64_t age = heard >= wallNow ? 0 : (uint64_t)(wallNow - heard) * 1000;
      if (LoadStateEntry(ip, port, order, age, now)) loaded++;
    }
    p = lineFeed ? lineFeed + 1 : end;
  }
  SortListOrder();
  return loaded;
}
