// Lab logic without sockets: options, config lines, status replies, master bodies, HTTP text.
#include "lab_reply.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

struct ModeName {
  int mode;
  const char *name;
};

const ModeName serverModeNames[] = {
    {MODE_NORMAL, "normal"},
    {MODE_SILENT, "silent"},
    {MODE_CLOSED, "closed"},
    {MODE_GARBAGE, "garbage"},
    {MODE_OVERSIZE, "oversize"},
    {MODE_EMPTY, "empty"},
    {MODE_MANYPLAYERS, "manyplayers"},
    {MODE_LONGHOST, "longhost"},
    {MODE_LONGNAMES, "longnames"},
    {MODE_NUL, "nul"},
    {MODE_NOLF, "nolf"},
    {MODE_CRONLY, "cronly"},
    {MODE_ONCE, "once"},
};

const ModeName masterModeNames[] = {
    {MASTER_LIST, "list"},         {MASTER_404, "404"},   {MASTER_EMPTYBODY, "emptybody"},
    {MASTER_SLOW, "slow"},         {MASTER_SIZE, "size"}, {MASTER_CUTOFF, "cutoff"},
    {MASTER_HANG, "hang"},         {MASTER_NUL, "nul"},   {MASTER_BOM, "bom"},
    {MASTER_SLOWHEAD, "slowhead"},
};

const size_t SERVER_MODE_COUNT = sizeof(serverModeNames) / sizeof(serverModeNames[0]);
const size_t MASTER_MODE_COUNT = sizeof(masterModeNames) / sizeof(masterModeNames[0]);

const char STATUS_PREFIX[] = "\xff\xff\xff\xffstatus";
const size_t STATUS_PREFIX_SIZE = sizeof(STATUS_PREFIX) - 1;
const char REPLY_HEADER[] = "\xff\xff\xff\xffprint\n";
const size_t REPLY_HEADER_SIZE = sizeof(REPLY_HEADER) - 1;
const char HEARTBEAT_HEADER[] = "\xff\xff\xff\xffheartbeat\n";
const char ACK[] =
    "\xff\xff\xff\xff"
    "ack";

// "127.0.0.1:PPPPP\r\n": ports 27910 to 65535 all have five digits, so every line is this long.
const uint64_t SIZED_LINE = 17;
const uint64_t SIZED_PORT_CYCLE = 65535 - LAB_FIRST_LIST_PORT + 1;

void SetError(char *error, size_t errorSize, const char *format, ...) {
  if (error == NULL || errorSize == 0) return;
  va_list args;
  va_start(args, format);
  vsnprintf(error, errorSize, format, args);
  va_end(args);
}

const char *ModeToName(const ModeName *names, size_t count, int mode) {
  for (size_t i = 0; i < count; i++)
    if (names[i].mode == mode) return names[i].name;
  return "?";
}

bool NameToMode(const ModeName *names, size_t count, const std::string &name, int *mode) {
  for (size_t i = 0; i < count; i++) {
    if (name == names[i].name) {
      *mode = names[i].mode;
      return true;
    }
  }
  return false;
}

// Whole-text decimal integer within [minimum, maximum]; trailing junk is an error.
bool ParseNumber(const std::string &text, long long minimum, long long maximum, long long *value) {
  if (text.empty()) return false;
  errno = 0;
  char *end = NULL;
  long long parsed = strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  if (parsed < minimum || parsed > maximum) return false;
  *value = parsed;
  return true;
}

bool IntOption(const std::string &key, const std::string &value, long long minimum, long long maximum,
               int *field, char *error, size_t errorSize) {
  long long parsed = 0;
  if (!ParseNumber(value, minimum, maximum, &parsed)) {
    SetError(error, errorSize, "%s=%s: want a whole number from %lld to %lld", key.c_str(), value.c_str(),
             minimum, maximum);
    return false;
  }
  *field = (int)parsed;
  return true;
}

bool SplitKeyValue(const std::string &field, std::string *key, std::string *value, char *error,
                   size_t errorSize) {
  size_t equals = field.find('=');
  if (equals == std::string::npos || equals == 0) {
    SetError(error, errorSize, "\"%s\": want key=value", field.c_str());
    return false;
  }
  *key = field.substr(0, equals);
  *value = field.substr(equals + 1);
  return true;
}

std::string Trim(const std::string &text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// One NAME/SCORE/PING entry. The numbers are taken from the right so a name may hold '/'.
bool ParsePlayer(const std::string &entry, LabPlayer *player, char *error, size_t errorSize) {
  size_t pingSlash = entry.rfind('/');
  size_t scoreSlash =
      pingSlash == std::string::npos || pingSlash == 0 ? std::string::npos : entry.rfind('/', pingSlash - 1);
  long long score = 0;
  long long ping = 0;
  if (scoreSlash == std::string::npos ||
      !ParseNumber(Trim(entry.substr(scoreSlash + 1, pingSlash - scoreSlash - 1)), -99999, 99999, &score) ||
      !ParseNumber(Trim(entry.substr(pingSlash + 1)), 0, 99999, &ping)) {
    SetError(error, errorSize, "player \"%s\": want NAME/SCORE/PING", entry.c_str());
    return false;
  }
  player->name = entry.substr(0, scoreSlash);
  player->score = (int)score;
  player->ping = (int)ping;
  return true;
}

int *ServerIntField(LabServer *server, const std::string &key, long long *minimum, long long *maximum) {
  *minimum = 0;
  *maximum = 1000000000;
  if (key == "port" || key == "fromport") *minimum = 1, *maximum = 65535;
  if (key == "twice") *maximum = 1;
  if (key == "delay") *maximum = 600000;
  if (key == "port") return &server->port;
  if (key == "fromport") return &server->fromPort;
  if (key == "maxclients") return &server->maxClients;
  if (key == "delay") return &server->delayMs;
  if (key == "ignore") return &server->ignoreCount;
  if (key == "twice") return &server->twice;
  return NULL;
}

int *MasterIntField(LabMaster *master, const std::string &key, long long *minimum, long long *maximum) {
  *minimum = 1;
  *maximum = 1000000;
  if (key == "port") *maximum = 65535;
  if (key == "pause") *minimum = 0, *maximum = 600000;
  if (key == "port") return &master->port;
  if (key == "piece") return &master->piece;
  if (key == "pause") return &master->pauseMs;
  return NULL;
}

bool FinishServer(LabServer *server, char *error, size_t errorSize) {
  if (server->port == 0) {
    SetError(error, errorSize, "a server needs port=N");
    return false;
  }
  return true;
}

uint32_t NextRandom(uint32_t *state) {
  *state = *state * 1103515245u + 12345u;
  return *state >> 8;
}

void AppendInfoKey(std::string *info, const char *key, const std::string &value) {
  *info += '\\';
  *info += key;
  *info += '\\';
  *info += value;
}

// Text repeated (with a space between copies) and cut to exactly size characters.
std::string StretchText(const std::string &text, size_t size) {
  std::string stretched;
  while (stretched.size() < size) {
    stretched += text;
    stretched += ' ';
  }
  stretched.resize(size);
  return stretched;
}

void InsertNul(std::string *text) { text->insert(text->size() / 2, 1, '\0'); }

std::string BuildServerInfo(const LabServer &server, const std::string &host, size_t padSize) {
  char number[32];
  std::string info;
  AppendInfoKey(&info, "version", "3.20 x86 Nov 12 2026 Linux");
  AppendInfoKey(&info, "dmflags", "16");
  AppendInfoKey(&info, "fraglimit", "30");
  AppendInfoKey(&info, "timelimit", "20");
  snprintf(number, sizeof(number), "%d", server.maxClients);
  AppendInfoKey(&info, "maxclients", number);
  AppendInfoKey(&info, "hostname", host);
  AppendInfoKey(&info, "mapname", server.map);
  AppendInfoKey(&info, "gamename", server.game);
  AppendInfoKey(&info, "game", server.game);
  AppendInfoKey(&info, "gamedir", server.game);
  if (padSize > 0) {
    std::string pad;
    for (size_t i = 0; i < padSize; i++) pad += (char)('a' + i % 26);
    AppendInfoKey(&info, "pad", pad);
  }
  return info;
}

// Names are appended as bytes, not through printf, so NULs inside them survive.
void BuildFramedReply(const LabServer &server, const std::string &host, const std::vector<LabPlayer> &players,
                      size_t padSize, std::string *reply) {
  *reply = REPLY_HEADER;
  *reply += BuildServerInfo(server, host, padSize);
  *reply += '\n';
  for (size_t i = 0; i < players.size(); i++) {
    char numbers[48];
    snprintf(numbers, sizeof(numbers), "%d %d \"", players[i].score, players[i].ping);
    *reply += numbers;
    *reply += players[i].name;
    *reply += "\"\n";
  }
}

void BuildGarbage(int port, std::string *reply) {
  uint32_t state = (uint32_t)port * 2654435761u + 1u;
  size_t length = 200 + NextRandom(&state) % 300;
  reply->clear();
  for (size_t i = 0; i < length; i++) reply->push_back((char)(NextRandom(&state) & 0xff));
}

void BuildOversize(const LabServer &server, std::string *reply) {
  std::string host = ServerHostName(server);
  BuildFramedReply(server, host, server.players, 0, reply);
  const size_t keyOverhead = 5;  // "\pad\"
  if (reply->size() + keyOverhead >= OVERSIZE_REPLY_SIZE) return;
  size_t padSize = OVERSIZE_REPLY_SIZE - reply->size() - keyOverhead;
  BuildFramedReply(server, host, server.players, padSize, reply);
}

void MakeManyPlayers(std::vector<LabPlayer> *players) {
  players->clear();
  for (int i = 1; i <= MANY_PLAYER_COUNT; i++) {
    char name[32];
    snprintf(name, sizeof(name), "Player%04d", i);
    LabPlayer player = {name, (i * 37) % 120 - 20, 10 + (i * 53) % 400};
    players->push_back(player);
  }
}

void MakeLongNames(std::vector<LabPlayer> *players) {
  players->clear();
  for (int i = 1; i <= LONG_NAME_COUNT; i++) {
    char seed[64];
    snprintf(seed, sizeof(seed), "%d \"Quoted\" name, with \"spaces\" and", i);
    LabPlayer player = {StretchText(seed, LONG_NAME_SIZE), i * 3, 30 + i * 10};
    players->push_back(player);
  }
}

void MakeNulPlayers(std::vector<LabPlayer> *players) {
  if (players->empty()) {
    LabPlayer first = {"Nul Runner", 7, 40};
    LabPlayer second = {"Zero Byte", 2, 90};
    players->push_back(first);
    players->push_back(second);
  }
  for (size_t i = 0; i < players->size(); i++) InsertNul(&(*players)[i].name);
}

void ReplaceNewlines(std::string *reply, bool dropThem) {
  std::string changed;
  for (size_t i = 0; i < reply->size(); i++) {
    char c = (*reply)[i];
    if (c != '\n')
      changed += c;
    else if (!dropThem)
      changed += '\r';
  }
  *reply = changed;
}

const char *StatusText(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    default: return "Internal Server Error";
  }
}

bool EqualsNoCase(const std::string &a, const char *b) {
  size_t length = strlen(b);
  if (a.size() != length) return false;
  for (size_t i = 0; i < length; i++) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = (char)(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = (char)(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Offset just past the blank line ending the request head, or 0 when it has not arrived.
size_t FindHeadEnd(const char *data, size_t length) {
  for (size_t i = 0; i + 1 < length; i++) {
    if (data[i] != '\n') continue;
    if (data[i + 1] == '\n') return i + 2;
    if (i + 2 < length && data[i + 1] == '\r' && data[i + 2] == '\n') return i + 3;
  }
  return 0;
}

void StoreHeader(const std::string &line, HttpRequest *request) {
  size_t colon = line.find(':');
  if (colon == std::string::npos) return;
  std::string name = line.substr(0, colon);
  std::string value = Trim(line.substr(colon + 1));
  if (EqualsNoCase(name, "user-agent"))
    request->userAgent = value;
  else if (EqualsNoCase(name, "cache-control"))
    request->cacheControl = value;
  else if (EqualsNoCase(name, "pragma"))
    request->pragma = value;
  else if (EqualsNoCase(name, "if-modified-since"))
    request->ifModifiedSince = value;
  else if (EqualsNoCase(name, "if-none-match"))
    request->ifNoneMatch = value;
}

bool ParseRequestLine(const std::string &line, HttpRequest *request) {
  size_t firstSpace = line.find(' ');
  if (firstSpace == std::string::npos || firstSpace == 0) return false;
  size_t pathEnd = line.find(' ', firstSpace + 1);
  if (pathEnd == std::string::npos) pathEnd = line.size();
  request->method = line.substr(0, firstSpace);
  request->path = line.substr(firstSpace + 1, pathEnd - firstSpace - 1);
  return !request->path.empty();
}

}  // namespace

void InitLabServer(LabServer *server) {
  server->port = 0;
  server->hostSet = false;
  server->host.clear();
  server->map = "q2dm1";
  server->maxClients = 16;
  server->delayMs = 0;
  server->ignoreCount = 0;
  server->players.clear();
  server->twice = 0;
  server->fromPort = 0;
  server->game = "varnet";
  server->mode = MODE_NORMAL;
}

void InitLabMaster(LabMaster *master) {
  master->enabled = false;
  master->port = LAB_DEFAULT_MASTER_PORT;
  master->file.clear();
  master->mode = MASTER_LIST;
  master->piece = 16;
  master->pauseMs = 500;
  master->sizeSet = false;
  master->size = 0;
}

const char *ServerModeName(LabServerMode mode) {
  return ModeToName(serverModeNames, SERVER_MODE_COUNT, mode);
}

const char *MasterModeName(LabMasterMode mode) {
  return ModeToName(masterModeNames, MASTER_MODE_COUNT, mode);
}

bool SplitFields(const char *text, size_t length, const char *separators, char commentChar,
                 std::vector<std::string> *fields, char *error, size_t errorSize) {
  fields->clear();
  size_t i = 0;
  while (i < length) {
    if (commentChar != 0 && text[i] == commentChar) break;
    if (strchr(separators, text[i]) != NULL && text[i] != '\0') {
      i++;
      continue;
    }
    std::string field;
    bool quoted = false;
    for (; i < length; i++) {
      char c = text[i];
      if (quoted && c == '\\' && i + 1 < length && (text[i + 1] == '"' || text[i + 1] == '\\'))
        field += text[++i];
      else if (c == '"')
        quoted = !quoted;
      else if (!quoted && c != '\0' && (strchr(separators, c) != NULL || c == commentChar))
        break;
      else
        field += c;
    }
    if (quoted) {
      SetError(error, errorSize, "unterminated quote in \"%s\"", field.c_str());
      return false;
    }
    fields->push_back(field);
  }
  return true;
}

bool ParsePlayers(const std::string &text, std::vector<LabPlayer> *players, char *error, size_t errorSize) {
  players->clear();
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    std::string entry = Trim(text.substr(start, end - start));
    LabPlayer player;
    if (!entry.empty()) {
      if (!ParsePlayer(entry, &player, error, errorSize)) return false;
      players->push_back(player);
    }
    start = end + 1;
  }
  return true;
}

bool SetServerOption(LabServer *server, const std::string &field, char *error, size_t errorSize) {
  std::string key, value;
  if (!SplitKeyValue(field, &key, &value, error, errorSize)) return false;
  long long minimum = 0, maximum = 0;
  int *number = ServerIntField(server, key, &minimum, &maximum);
  if (number != NULL) return IntOption(key, value, minimum, maximum, number, error, errorSize);
  if (key == "host") {
    server->host = value;
    server->hostSet = true;
  } else if (key == "map") {
    server->map = value;
  } else if (key == "game") {
    server->game = value;
  } else if (key == "players") {
    return ParsePlayers(value, &server->players, error, errorSize);
  } else if (key == "mode") {
    int mode = 0;
    if (!NameToMode(serverModeNames, SERVER_MODE_COUNT, value, &mode)) {
      SetError(error, errorSize, "unknown server mode \"%s\"", value.c_str());
      return false;
    }
    server->mode = (LabServerMode)mode;
  } else {
    SetError(error, errorSize, "unknown server key \"%s\"", key.c_str());
    return false;
  }
  return true;
}

bool SetMasterOption(LabMaster *master, const std::string &field, char *error, size_t errorSize) {
  std::string key, value;
  if (!SplitKeyValue(field, &key, &value, error, errorSize)) return false;
  long long minimum = 0, maximum = 0;
  int *number = MasterIntField(master, key, &minimum, &maximum);
  if (number != NULL) return IntOption(key, value, minimum, maximum, number, error, errorSize);
  if (key == "file") {
    master->file = value;
  } else if (key == "gate") {
    master->gate = value;
  } else if (key == "size") {
    long long size = 0;
    if (!ParseNumber(value, 0, 1LL << 40, &size)) {
      SetError(error, errorSize, "size=%s: want a byte count", value.c_str());
      return false;
    }
    master->size = (uint64_t)size;
    master->sizeSet = true;
  } else if (key == "mode") {
    int mode = 0;
    if (!NameToMode(masterModeNames, MASTER_MODE_COUNT, value, &mode)) {
      SetError(error, errorSize, "unknown master mode \"%s\"", value.c_str());
      return false;
    }
    master->mode = (LabMasterMode)mode;
  } else {
    SetError(error, errorSize, "unknown master key \"%s\"", key.c_str());
    return false;
  }
  return true;
}

bool ParseServerOptions(const char *text, LabServer *server, char *error, size_t errorSize) {
  std::vector<std::string> fields;
  InitLabServer(server);
  if (!SplitFields(text, strlen(text), ",", 0, &fields, error, errorSize)) return false;
  for (size_t i = 0; i < fields.size(); i++)
    if (!SetServerOption(server, fields[i], error, errorSize)) return false;
  return FinishServer(server, error, errorSize);
}

bool ParseMasterOptions(const char *text, LabMaster *master, char *error, size_t errorSize) {
  std::vector<std::string> fields;
  InitLabMaster(master);
  master->enabled = true;
  if (!SplitFields(text, strlen(text), ",", 0, &fields, error, errorSize)) return false;
  for (size_t i = 0; i < fields.size(); i++)
    if (!SetMasterOption(master, fields[i], error, errorSize)) return false;
  return true;
}

bool ParseConfigLine(const char *line, size_t length, ConfigLineKind *kind, LabServer *server,
                     LabMaster *master, char *error, size_t errorSize) {
  std::vector<std::string> fields;
  *kind = CONFIG_BLANK;
  if (!SplitFields(line, length, " \t\r\n", '#', &fields, error, errorSize)) return false;
  if (fields.empty()) return true;
  size_t first = fields[0] == "server" ? 1 : 0;
  if (fields[0] == "master") {
    *kind = CONFIG_MASTER;
    InitLabMaster(master);
    master->enabled = true;
    for (size_t i = 1; i < fields.size(); i++)
      if (!SetMasterOption(master, fields[i], error, errorSize)) return false;
    return true;
  }
  *kind = CONFIG_SERVER;
  InitLabServer(server);
  for (size_t i = first; i < fields.size(); i++)
    if (!SetServerOption(server, fields[i], error, errorSize)) return false;
  return FinishServer(server, error, errorSize);
}

bool CheckLabSetup(const std::vector<LabServer> &servers, const LabMaster &master, char *error,
                   size_t errorSize) {
  std::vector<int> udpPorts;
  for (size_t i = 0; i < servers.size(); i++) {
    if (servers[i].fromPort == servers[i].port) {
      SetError(error, errorSize, "server %d: fromport must differ from port", servers[i].port);
      return false;
    }
    udpPorts.push_back(servers[i].port);
    if (servers[i].fromPort != 0) udpPorts.push_back(servers[i].fromPort);
  }
  for (size_t i = 0; i < udpPorts.size(); i++) {
    for (size_t j = i + 1; j < udpPorts.size(); j++) {
      if (udpPorts[i] == udpPorts[j]) {
        SetError(error, errorSize, "UDP port %d is used twice", udpPorts[i]);
        return false;
      }
    }
  }
  if (master.enabled && master.mode == MASTER_SIZE && !master.sizeSet) {
    SetError(error, errorSize, "master mode=size needs size=N");
    return false;
  }
  return true;
}

bool IsStatusRequest(const char *data, size_t length) {
  return length >= STATUS_PREFIX_SIZE && memcmp(data, STATUS_PREFIX, STATUS_PREFIX_SIZE) == 0;
}

bool IsAck(const char *data, size_t length) {
  return length >= sizeof(ACK) - 1 && memcmp(data, ACK, sizeof(ACK) - 1) == 0;
}

bool ServerAnswers(const LabServer &server) {
  return server.mode != MODE_SILENT && server.mode != MODE_CLOSED;
}

std::string ServerHostName(const LabServer &server) {
  if (server.hostSet) return server.host;
  char name[64];
  snprintf(name, sizeof(name), "Varnet Lab %d", server.port);
  return name;
}

void BuildStatusReply(const LabServer &server, std::string *reply) {
  reply->clear();
  if (!ServerAnswers(server) || server.mode == MODE_EMPTY) return;
  if (server.mode == MODE_GARBAGE) return BuildGarbage(server.port, reply);
  if (server.mode == MODE_OVERSIZE) return BuildOversize(server, reply);
  std::string host = ServerHostName(server);
  std::vector<LabPlayer> players = server.players;
  if (server.mode == MODE_MANYPLAYERS) MakeManyPlayers(&players);
  if (server.mode == MODE_LONGHOST) host = StretchText(host, LONG_HOST_SIZE);
  if (server.mode == MODE_LONGNAMES) MakeLongNames(&players);
  if (server.mode == MODE_NUL) {
    InsertNul(&host);
    MakeNulPlayers(&players);
  }
  BuildFramedReply(server, host, players, 0, reply);
  if (server.mode == MODE_NOLF) ReplaceNewlines(reply, true);
  if (server.mode == MODE_CRONLY) ReplaceNewlines(reply, false);
}

void BuildHeartbeat(const LabServer &server, std::string *heartbeat) {
  LabServer normal = server;
  normal.mode = MODE_NORMAL;
  std::string reply;
  BuildStatusReply(normal, &reply);
  *heartbeat = HEARTBEAT_HEADER;
  heartbeat->append(reply, REPLY_HEADER_SIZE, std::string::npos);
}

void BuildMasterList(const std::vector<LabServer> &servers, std::string *body) {
  body->clear();
  for (size_t i = 0; i < servers.size(); i++) {
    char line[32];
    snprintf(line, sizeof(line), "127.0.0.1:%d\n", servers[i].port);
    *body += line;
  }
}

// nul puts one NUL in the middle of every line; bom puts a UTF-8 byte-order mark in front.
void MangleMasterList(LabMasterMode mode, std::string *body) {
  if (mode == MASTER_BOM) body->insert(0, "\xef\xbb\xbf");
  if (mode != MASTER_NUL) return;
  std::string mangled;
  size_t start = 0;
  while (start < body->size()) {
    size_t end = body->find('\n', start);
    if (end == std::string::npos) end = body->size();
    std::string line = body->substr(start, end - start);
    InsertNul(&line);
    mangled += line;
    if (end < body->size()) mangled += '\n';
    start = end + 1;
  }
  *body = mangled;
}

// The last line absorbs the remainder as spaces before its CR LF, so every line stays valid.
// A body shorter than one line is the start of the first line.
static char SizedListByte(uint64_t total, uint64_t position) {
  static const char prefix[] = "127.0.0.1:";
  static const uint64_t divisors[] = {10000, 1000, 100, 10, 1};
  uint64_t lines = total / SIZED_LINE;
  uint64_t lastStart = lines == 0 ? 0 : (lines - 1) * SIZED_LINE;
  bool inLast = position >= lastStart;
  uint64_t line = inLast ? lastStart / SIZED_LINE : position / SIZED_LINE;
  uint64_t column = inLast ? position - lastStart : position % SIZED_LINE;
  uint64_t crColumn = inLast && lines > 0 ? total - lastStart - 2 : SIZED_LINE - 2;
  uint64_t port = LAB_FIRST_LIST_PORT + line % SIZED_PORT_CYCLE;
  if (column < 10) return prefix[column];
  if (column < 15) return (char)('0' + port / divisors[column - 10] % 10);
  if (column == crColumn) return '\r';
  if (column == crColumn + 1) return '\n';
  return ' ';
}

void FillSizedList(uint64_t total, uint64_t offset, char *out, size_t length) {
  for (size_t i = 0; i < length; i++) out[i] = SizedListByte(total, offset + i);
}

void BuildHttpHeader(int status, const char *contentType, uint64_t contentLength, std::string *header) {
  char text[256];
  snprintf(text, sizeof(text),
           "HTTP/1.1 %d %s\r\nServer: varnet-lab\r\nContent-Type: %s\r\n"
           "Content-Length: %llu\r\nConnection: close\r\n\r\n",
           status, StatusText(status), contentType, (unsigned long long)contentLength);
  *header = text;
}

void BuildErrorPage(int status, std::string *page) {
  char text[256];
  snprintf(text, sizeof(text), "<html><head><title>%d %s</title></head><body><h1>%s</h1></body></html>\n",
           status, StatusText(status), StatusText(status));
  *page = text;
}

int ParseHttpRequest(const char *data, size_t length, HttpRequest *request) {
  size_t headEnd = FindHeadEnd(data, length);
  if (headEnd == 0) return 0;
  *request = HttpRequest();
  size_t start = 0;
  bool first = true;
  while (start < headEnd) {
    size_t end = start;
    while (end < headEnd && data[end] != '\n') end++;
    std::string line(data + start, end - start);
    if (!line.empty() && line[line.size() - 1] == '\r') line.erase(line.size() - 1);
    if (first && !ParseRequestLine(line, request)) return -1;
    if (!first) StoreHeader(line, request);
    first = false;
    start = end + 1;
  }
  return 1;
}

std::string EscapeForLog(const char *data, size_t length, size_t maxBytes) {
  std::string escaped;
  size_t shown = length < maxBytes ? length : maxBytes;
  for (size_t i = 0; i < shown; i++) {
    unsigned char c = (unsigned char)data[i];
    char hex[8];
    if (c == '"' || c == '\\') {
      escaped += '\\';
      escaped += (char)c;
    } else if (c >= 0x20 && c < 0x7f) {
      escaped += (char)c;
    } else {
      snprintf(hex, sizeof(hex), "\\x%02x", c);
      escaped += hex;
    }
  }
  if (shown < length) escaped += "...";
  return escaped;
}
