// What a datagram is, whether a status text names our game, addresses, and the `servers ` reply.
#include <stdio.h>
#include <string.h>

#include "masterd.h"
#include "query/reply.h"

static const char MARKER[4] = {'\xff', '\xff', '\xff', '\xff'};
static const char SERVERS_HEADER[] = "\xff\xff\xff\xffservers ";
enum { SERVERS_HEADER_SIZE = 12, ENTRIES_PER_REPLY = (DATAGRAM_SIZE - SERVERS_HEADER_SIZE) / ENTRY_BYTES };

// A command word at data, followed by the datagram's end or one of the bytes a sender ends
// its command with; anything else after it ("pingx") is another command.
static bool IsCommand(const char *data, int32_t length, const char *word) {
  int32_t wordLength = (int32_t)strlen(word);
  if (length < wordLength || memcmp(data, word, (size_t)wordLength) != 0) return false;
  if (length == wordLength) return true;
  char after = data[wordLength];
  return after == '\n' || after == 0;
}

// A heartbeat's status text follows its line feed, so the word and that byte are matched whole.
DatagramKind ClassifyDatagram(const char *data, int32_t length) {
  if (length >= 4 && memcmp(data, MARKER, 4) == 0) {
    const char *command = data + 4;
    int32_t rest = length - 4;
    if (rest >= 10 && memcmp(command, "heartbeat\n", 10) == 0) return DATAGRAM_HEARTBEAT;
    if (rest >= 6 && memcmp(command, "print\n", 6) == 0) return DATAGRAM_STATUS;
    if (IsCommand(command, rest, "ping")) return DATAGRAM_PING;
    if (IsCommand(command, rest, "shutdown")) return DATAGRAM_SHUTDOWN;
    if (IsCommand(command, rest, "query")) return DATAGRAM_QUERY;
    return DATAGRAM_UNKNOWN;
  }
  return IsCommand(data, length, "query") ? DATAGRAM_QUERY : DATAGRAM_UNKNOWN;
}

static bool SameIgnoringCase(const char *a, const char *b) {
  for (; *a && *b; a++, b++) {
    char x = (*a >= 'A' && *a <= 'Z') ? (char)(*a - 'A' + 'a') : *a;
    char y = (*b >= 'A' && *b <= 'Z') ? (char)(*b - 'A' + 'a') : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

// A server names its mod as gamedir and as game; either one that is ours is enough.
// The serverinfo line of a status text after a header of headerLength bytes, without its line feed.
const char *ServerInfoLine(const char *data, int32_t length, int32_t headerLength, size_t *infoLength) {
  if (length <= headerLength) {
    *infoLength = 0;
    return data;
  }
  const char *info = data + headerLength;
  const char *lineFeed = (const char *)memchr(info, '\n', (size_t)(length - headerLength));
  *infoLength = lineFeed != NULL ? (size_t)(lineFeed - info) : (size_t)(length - headerLength);
  return info;
}

GameVerdict StatusNamesGame(const char *data, int32_t length, int32_t headerLength, const char *game) {
  size_t infoLength;
  const char *info = ServerInfoLine(data, length, headerLength, &infoLength);
  char value[GAME_NAME_SIZE];
  bool named = false;
  const char *keys[2] = {"gamedir", "game"};
  for (const char *key : keys) {
    if (!ServerInfoValue(info, infoLength, key, value, sizeof value)) continue;
    if (SameIgnoringCase(value, game)) return GAME_MATCH;
    named = true;
  }
  return named ? GAME_OTHER : GAME_UNNAMED;
}

// Loopback, private, link-local, shared (carrier NAT), "this network", multicast and reserved:
// nothing a player on the Internet could reach, or a source that cannot be a server at all.
bool IsPrivateAddress(uint32_t ip) {
  uint32_t a = ip >> 24, b = (ip >> 16) & 0xFF;
  if (a == 0 || a == 10 || a == 127 || a >= 224) return true;
  if (a == 169 && b == 254) return true;
  if (a == 172 && b >= 16 && b <= 31) return true;
  if (a == 192 && b == 168) return true;
  return a == 100 && b >= 64 && b <= 127;
}

void FormatAddress(char *text, size_t size, uint32_t ip, uint16_t port) {
  snprintf(text, size, "%u.%u.%u.%u:%u", ip >> 24, (ip >> 16) & 0xFF, (ip >> 8) & 0xFF, ip & 0xFF, port);
}

// Reads up to max (at most 65535) from *p, at least one and at most five digits.
static bool ReadNumber(const char **p, const char *end, uint32_t max, uint32_t *value) {
  uint32_t number = 0;
  int digits = 0;
  while (*p < end && **p >= '0' && **p <= '9' && digits < 6) {
    number = number * 10 + (uint32_t)(**p - '0');
    (*p)++;
    digits++;
  }
  if (digits == 0 || digits > 5 || number > max) return false;
  *value = number;
  return true;
}

// Exactly "a.b.c.d:port" filling the length: dotted decimal, each part 0 to 255, port 1 to 65535.
bool ParseAddress(const char *text, size_t length, uint32_t *ip, uint16_t *port) {
  const char *p = text, *end = text + length;
  uint32_t address = 0, part, number;
  for (int i = 0; i < 4; i++) {
    if (!ReadNumber(&p, end, 255, &part)) return false;
    address = (address << 8) | part;
    char separator = i < 3 ? '.' : ':';
    if (p == end || *p != separator) return false;
    p++;
  }
  if (!ReadNumber(&p, end, 65535, &number) || number == 0 || p != end) return false;
  *ip = address;
  *port = (uint16_t)number;
  return true;
}

// The `servers ` reply to a query: one datagram however short the list, more when a long list
// does not fit 1,400 bytes.
int32_t QueryReplyCount(void) {
  int32_t published = PublishedCount();
  if (published == 0) return 1;
  return (published + ENTRIES_PER_REPLY - 1) / ENTRIES_PER_REPLY;
}

// Datagram part of the reply into out; its length, or 0 when out is too small or there is no such part.
int32_t BuildQueryReply(int32_t part, char *out, int32_t size) {
  if (part < 0 || part >= QueryReplyCount() || size < DATAGRAM_SIZE) return 0;
  memcpy(out, SERVERS_HEADER, SERVERS_HEADER_SIZE);
  int32_t length = SERVERS_HEADER_SIZE;
  int32_t published = PublishedCount();
  for (int32_t i = part * ENTRIES_PER_REPLY; i < published && i < (part + 1) * ENTRIES_PER_REPLY; i++) {
    const MasterEntry *entry = &entries[listOrder[i]];
    unsigned char *p = (unsigned char *)out + length;
    p[0] = (unsigned char)(entry->ip >> 24);
    p[1] = (unsigned char)(entry->ip >> 16);
    p[2] = (unsigned char)(entry->ip >> 8);
    p[3] = (unsigned char)entry->ip;
    p[4] = (unsigned char)(entry->port >> 8);
    p[5] = (unsigned char)entry->port;
    length += ENTRY_BYTES;
  }
  return length;
}

// Text from a server made safe for a log line: printable ASCII kept, every other byte a '?'.
void CopyPrintable(char *dest, size_t destSize, const char *src, size_t length) {
  if (destSize == 0) return;
  size_t n = 0;
  for (; n < length && n + 1 < destSize && src[n] != 0; n++) {
    dest[n] = (src[n] >= 0x20 && src[n] < 0x7F) ? src[n] : '?';
  }
  dest[n] = 0;
}
