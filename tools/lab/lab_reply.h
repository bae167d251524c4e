// Lab logic without sockets: options, config lines, status replies, master bodies, HTTP text.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

enum { LAB_ERROR_SIZE = 256, LAB_DEFAULT_MASTER_PORT = 27900, LAB_FIRST_LIST_PORT = 27910 };

enum LabServerMode {
  MODE_NORMAL,
  MODE_SILENT,
  MODE_CLOSED,
  MODE_GARBAGE,
  MODE_OVERSIZE,
  MODE_EMPTY,
  MODE_MANYPLAYERS,
  MODE_LONGHOST,
  MODE_LONGNAMES,
  MODE_NUL,
  MODE_NOLF,
  MODE_CRONLY,
  MODE_ONCE
};

enum LabMasterMode {
  MASTER_LIST,
  MASTER_404,
  MASTER_EMPTYBODY,
  MASTER_SLOW,
  MASTER_SIZE,
  MASTER_CUTOFF,
  MASTER_HANG,
  MASTER_NUL,
  MASTER_BOM,
  MASTER_SLOWHEAD
};

// Sizes the hostile modes produce; tests of the browser rely on these exact numbers.
enum {
  OVERSIZE_REPLY_SIZE = 5000,
  MANY_PLAYER_COUNT = 1000,
  LONG_HOST_SIZE = 4000,
  LONG_NAME_SIZE = 40,
  LONG_NAME_COUNT = 6
};

struct LabPlayer {
  std::string name;
  int score;
  int ping;
};

struct LabServer {
  int port;  // 0 until set: the port is mandatory
  bool hostSet;
  std::string host;
  std::string map;
  int maxClients;
  int delayMs;
  int ignoreCount;
  std::vector<LabPlayer> players;
  int twice;         // 1: every request is answered twice
  int fromPort;      // 0: reply from the port the request came to
  std::string game;  // the mod the serverinfo names
  LabServerMode mode;
};

struct LabMaster {
  bool enabled;
  int port;
  std::string file;  // empty: list the configured servers
  std::string gate;  // non-empty: every answer waits until this file exists
  LabMasterMode mode;
  int piece;
  int pauseMs;
  bool sizeSet;
  uint64_t size;
};

struct HttpRequest {
  std::string method;
  std::string path;
  std::string userAgent;
  std::string cacheControl;
  std::string pragma;
  std::string ifModifiedSince;
  std::string ifNoneMatch;
};

enum ConfigLineKind { CONFIG_BLANK, CONFIG_SERVER, CONFIG_MASTER };

void InitLabServer(LabServer *server);
void InitLabMaster(LabMaster *master);
const char *ServerModeName(LabServerMode mode);
const char *MasterModeName(LabMasterMode mode);

// Splits text at any of separators, honouring double quotes (\" and \\ escapes inside them).
// commentChar (0 for none) outside quotes ends the text. Fails on an unterminated quote.
bool SplitFields(const char *text, size_t length, const char *separators, char commentChar,
                 std::vector<std::string> *fields, char *error, size_t errorSize);
bool ParsePlayers(const std::string &text, std::vector<LabPlayer> *players, char *error, size_t errorSize);
bool SetServerOption(LabServer *server, const std::string &field, char *error, size_t errorSize);
bool SetMasterOption(LabMaster *master, const std::string &field, char *error, size_t errorSize);
// Command-line form: comma-separated key=value pairs.
bool ParseServerOptions(const char *text, LabServer *server, char *error, size_t errorSize);
bool ParseMasterOptions(const char *text, LabMaster *master, char *error, size_t errorSize);
// Config-file form: whitespace-separated pairs; a first word "master" makes it the master line.
bool ParseConfigLine(const char *line, size_t length, ConfigLineKind *kind, LabServer *server,
                     LabMaster *master, char *error, size_t errorSize);
// Whole-setup checks that single lines cannot make (missing port, clashing ports).
bool CheckLabSetup(const std::vector<LabServer> &servers, const LabMaster &master, char *error,
                   size_t errorSize);

bool IsStatusRequest(const char *data, size_t length);
bool IsAck(const char *data, size_t length);
bool ServerAnswers(const LabServer &server);
std::string ServerHostName(const LabServer &server);
void BuildStatusReply(const LabServer &server, std::string *reply);
// What a real server sends its master: the status text of mode normal after a heartbeat line,
// whatever the mode, so that a server that never answers can still announce itself.
void BuildHeartbeat(const LabServer &server, std::string *heartbeat);

void BuildMasterList(const std::vector<LabServer> &servers, std::string *body);
void MangleMasterList(LabMasterMode mode, std::string *body);
// Bytes [offset, offset + length) of the size-mode body of total bytes.
void FillSizedList(uint64_t total, uint64_t offset, char *out, size_t length);
void BuildHttpHeader(int status, const char *contentType, uint64_t contentLength, std::string *header);
void BuildErrorPage(int status, std::string *page);
// 1: a whole request head is in data, 0: not yet, -1: malformed.
int ParseHttpRequest(const char *data, size_t length, HttpRequest *request);
std::string EscapeForLog(const char *data, size_t length, size_t maxBytes);
