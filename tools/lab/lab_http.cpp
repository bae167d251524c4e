// Simulated HTTP master server: serves /servers.txt, well or in one of several broken ways.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "lab.h"

namespace {

enum {
  MAX_CONNECTIONS = 64,
  MAX_REQUEST_HEAD = 16384,
  READ_TIMEOUT_MS = 30000,
  DRAIN_TIMEOUT_MS = 2000,
  GENERATED_CHUNK = 65536,
  LOGGED_HEADER_BYTES = 200,
  SLOWHEAD_PAUSE_MS = 20000,  // slowhead: between the header's bytes
  GATE_POLL_MS = 50
};

enum ConnectionState {
  CONNECTION_READING,
  CONNECTION_SENDING,
  CONNECTION_DRAINING,  // our side is shut down; waiting for the client to close
  CONNECTION_HANGING,
  CONNECTION_GATED,  // the request is read; the answer waits for the gate file
  CONNECTION_CLOSED
};

struct Connection {
  int fd;
  unsigned id;
  ConnectionState state;
  std::string input;
  std::string output;
  size_t sent;     // bytes of output already sent
  size_t allowed;  // slow modes: bytes of output that may go out before the next pause
  bool paced;
  size_t pieceBytes;  // paced: bytes per piece, and the pause before each
  int pauseMs;
  size_t pacedEnd;      // paced: the output from here on goes out at once
  HttpRequest request;  // gated: the request to answer once the gate opens
  int64_t nextPieceNs;
  int64_t deadlineNs;
  uint64_t generatedTotal;  // size mode makes the body while sending instead of holding it
  uint64_t generatedOffset;
  uint64_t totalSent;
};

int listenFd = -1;
std::vector<Connection> connections;
unsigned connectionCount;

void CloseConnection(Connection *connection, const char *why) {
  LogLine("http closed, %s, sent %llu bytes (#%u)", why, (unsigned long long)connection->totalSent,
          connection->id);
  close(connection->fd);
  connection->fd = -1;
  connection->state = CONNECTION_CLOSED;
}

size_t OpenConnectionCount() {
  size_t count = 0;
  for (size_t i = 0; i < connections.size(); i++)
    if (connections[i].state != CONNECTION_CLOSED) count++;
  return count;
}

void AddConnection(int fd, const sockaddr_in &from, int64_t now) {
  Connection connection = Connection();
  connection.fd = fd;
  connection.id = ++connectionCount;
  connection.state = CONNECTION_READING;
  connection.deadlineNs = now + READ_TIMEOUT_MS * NS_PER_MS;
  connections.push_back(connection);
  LogLine("http connection from %s (#%u)", PeerText(from).c_str(), connection.id);
}

void AcceptConnections(int64_t now) {
  for (;;) {
    sockaddr_in from;
    socklen_t fromLength = sizeof(from);
    int fd = accept4(listenFd, (sockaddr *)&from, &fromLength, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        LogLine("http accept failed: %s", strerror(errno));
      return;
    }
    if (OpenConnectionCount() >= MAX_CONNECTIONS) {
      LogLine("http too many connections, refusing %s", PeerText(from).c_str());
      close(fd);
      continue;
    }
    AddConnection(fd, from, now);
  }
}

// The file is read for every request so a test can change the list between fetches.
bool ReadListFile(const std::string &path, std::string *body) {
  FILE *file = fopen(path.c_str(), "rb");
  if (file == NULL) {
    LogLine("http cannot read %s: %s", path.c_str(), strerror(errno));
    return false;
  }
  body->clear();
  char buffer[65536];
  size_t length;
  while ((length = fread(buffer, 1, sizeof(buffer), file)) > 0) body->append(buffer, length);
  bool failed = ferror(file) != 0;
  fclose(file);
  return !failed;
}

bool MakeListBody(std::string *body) {
  if (!labMaster.file.empty()) {
    if (!ReadListFile(labMaster.file, body)) return false;
  } else {
    BuildMasterList(labServers, body);
  }
  MangleMasterList(labMaster.mode, body);
  return true;
}

void StartSending(Connection *connection, const std::string &output, int status, uint64_t contentLength) {
  connection->state = CONNECTION_SENDING;
  connection->output = output;
  connection->sent = 0;
  LogLine("http reply %d len %llu mode %s (#%u)", status, (unsigned long long)contentLength,
          MasterModeName(labMaster.mode), connection->id);
}

void SendErrorPage(Connection *connection, int status) {
  std::string header, page;
  BuildErrorPage(status, &page);
  BuildHttpHeader(status, "text/html", page.size(), &header);
  StartSending(connection, header + page, status, page.size());
}

void SendList(Connection *connection) {
  std::string header, body;
  if (!MakeListBody(&body)) return SendErrorPage(connection, 500);
  if (labMaster.mode == MASTER_EMPTYBODY) body.clear();
  if (labMaster.mode == MASTER_CUTOFF) {
    // The promised length is never delivered: half the body, then the connection ends.
    uint64_t promised = body.empty() ? 64 : body.size();
    BuildHttpHeader(200, "text/plain", promised, &header);
    StartSending(connection, header + body.substr(0, body.size() / 2), 200, promised);
    LogLine("http cutoff after %zu of %llu body bytes (#%u)", body.size() / 2, (unsigned long long)promised,
            connection->id);
    return;
  }
  BuildHttpHeader(200, "text/plain", body.size(), &header);
  StartSending(connection, header + body, 200, body.size());
  if (labMaster.mode == MASTER_SLOW) {
    connection->paced = true;
    connection->allowed = header.size();
    connection->pieceBytes = (size_t)labMaster.piece;
    connection->pauseMs = labMaster.pauseMs;
    connection->pacedEnd = connection->output.size();
  }
  if (labMaster.mode == MASTER_SLOWHEAD) {  // the header a byte at a time, then the body at once
    connection->paced = true;
    connection->allowed = 0;
    connection->pieceBytes = 1;
    connection->pauseMs = SLOWHEAD_PAUSE_MS;
    connection->pacedEnd = header.size();
  }
}

void SendSizedList(Connection *connection) {
  std::string header;
  BuildHttpHeader(200, "text/plain", labMaster.size, &header);
  StartSending(connection, header, 200, labMaster.size);
  connection->generatedTotal = labMaster.size;
  connection->generatedOffset = 0;
}

void LogRequest(const Connection &connection, const HttpRequest &request) {
  LogLine(
      "http %s %s ua=\"%s\" cache-control=\"%s\" pragma=\"%s\" if-modified-since=\"%s\" "
      "if-none-match=\"%s\" (#%u)",
      EscapeForLog(request.method.data(), request.method.size(), 16).c_str(),
      EscapeForLog(request.path.data(), request.path.size(), LOGGED_HEADER_BYTES).c_str(),
      EscapeForLog(request.userAgent.data(), request.userAgent.size(), LOGGED_HEADER_BYTES).c_str(),
      EscapeForLog(request.cacheControl.data(), request.cacheControl.size(), LOGGED_HEADER_BYTES).c_str(),
      EscapeForLog(request.pragma.data(), request.pragma.size(), LOGGED_HEADER_BYTES).c_str(),
      EscapeForLog(request.ifModifiedSince.data(), request.ifModifiedSince.size(), LOGGED_HEADER_BYTES)
          .c_str(),
      EscapeForLog(request.ifNoneMatch.data(), request.ifNoneMatch.size(), LOGGED_HEADER_BYTES).c_str(),
      connection.id);
}

void Respond(Connection *connection, const HttpRequest &request) {
  std::string path = request.path.substr(0, request.path.find('?'));
  if (request.method != "GET") return SendErrorPage(connection, 405);
  if (path != "/servers.txt" || labMaster.mode == MASTER_404) return SendErrorPage(connection, 404);
  if (labMaster.mode == MASTER_HANG) {
    connection->state = CONNECTION_HANGING;
    connection->deadlineNs = NO_DEADLINE;
    LogLine("http hanging, no answer (#%u)", connection->id);
    return;
  }
  if (labMaster.mode == MASTER_SIZE) return SendSizedList(connection);
  SendList(connection);
}

bool RefillGenerated(Connection *connection) {
  if (connection->generatedOffset >= connection->generatedTotal) return false;
  uint64_t remaining = connection->generatedTotal - connection->generatedOffset;
  size_t chunk = remaining < GENERATED_CHUNK ? (size_t)remaining : (size_t)GENERATED_CHUNK;
  connection->output.resize(chunk);
  FillSizedList(connection->generatedTotal, connection->generatedOffset, &connection->output[0], chunk);
  connection->generatedOffset += chunk;
  connection->sent = 0;
  return true;
}

void FinishSending(Connection *connection, int64_t now) {
  shutdown(connection->fd, SHUT_WR);
  connection->state = CONNECTION_DRAINING;
  connection->deadlineNs = now + DRAIN_TIMEOUT_MS * NS_PER_MS;
  LogLine("http sent %llu bytes (#%u)", (unsigned long long)connection->totalSent, connection->id);
}

void PumpConnection(Connection *connection, int64_t now) {
  while (connection->state == CONNECTION_SENDING) {
    if (connection->sent == connection->output.size() && !RefillGenerated(connection))
      return FinishSending(connection, now);
    if (connection->paced && connection->sent == connection->allowed) {
      if (now < connection->nextPieceNs) return;
      connection->allowed += connection->pieceBytes;
      if (connection->allowed >= connection->pacedEnd) connection->allowed = connection->output.size();
    }
    size_t end = connection->paced ? connection->allowed : connection->output.size();
    ssize_t sent = send(connection->fd, connection->output.data() + connection->sent, end - connection->sent,
                        MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
      return CloseConnection(connection, strerror(errno));
    }
    connection->sent += (size_t)sent;
    connection->totalSent += (uint64_t)sent;
    if (connection->paced && connection->sent == connection->allowed &&
        connection->allowed < connection->output.size()) {
      connection->nextPieceNs = now + connection->pauseMs * NS_PER_MS;
      return;
    }
  }
}

// With a gate the answer waits, in any mode, until the gate file exists.
void AnswerRequest(Connection *connection, const HttpRequest &request) {
  LogRequest(*connection, request);
  if (labMaster.gate.empty() || access(labMaster.gate.c_str(), F_OK) == 0)
    return Respond(connection, request);
  connection->state = CONNECTION_GATED;
  connection->request = request;
  LogLine("http gated until %s exists (#%u)", labMaster.gate.c_str(), connection->id);
}

void OpenGate(Connection *connection) {
  if (access(labMaster.gate.c_str(), F_OK) != 0) return;
  LogLine("http gate open (#%u)", connection->id);
  Respond(connection, connection->request);
}

void ReceiveRequest(Connection *connection, const char *data, size_t length) {
  connection->input.append(data, length);
  HttpRequest request;
  int parsed = ParseHttpRequest(connection->input.data(), connection->input.size(), &request);
  if (parsed > 0) return AnswerRequest(connection, request);
  if (parsed < 0 || connection->input.size() > MAX_REQUEST_HEAD) {
    LogLine("http bad request \"%s\" (#%u)",
            EscapeForLog(connection->input.data(), connection->input.size(), 80).c_str(), connection->id);
    SendErrorPage(connection, 400);
  }
}

void ReadConnection(Connection *connection, int64_t now) {
  char data[4096];
  ssize_t length = recv(connection->fd, data, sizeof(data), 0);
  if (length < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (length <= 0) {
    const char *why = length == 0 ? "by the client" : strerror(errno);
    return CloseConnection(connection, why);
  }
  if (connection->state != CONNECTION_READING) return;  // draining or hanging: discard
  ReceiveRequest(connection, data, (size_t)length);
  if (connection->state == CONNECTION_SENDING) PumpConnection(connection, now);
}

short ConnectionEvents(const Connection &connection, int64_t now) {
  if (connection.state != CONNECTION_SENDING) return POLLIN;
  bool waiting = connection.paced && connection.sent == connection.allowed && now < connection.nextPieceNs;
  return waiting ? 0 : POLLOUT;
}

}  // namespace

bool OpenMaster() {
  if (!labMaster.enabled) return true;
  listenFd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int on = 1;
  // Tests start labs back to back; without this the port stays busy in TIME_WAIT.
  if (listenFd >= 0) setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  sockaddr_in address = LoopbackAddress(labMaster.port);
  if (listenFd < 0 || bind(listenFd, (const sockaddr *)&address, sizeof(address)) < 0 ||
      listen(listenFd, MAX_CONNECTIONS) < 0) {
    LogLine("http master port %d failed: %s", labMaster.port, strerror(errno));
    return false;
  }
  // Not fatal: a test may write the file after the lab is up. Until then requests get a 500.
  if (!labMaster.file.empty() && access(labMaster.file.c_str(), R_OK) != 0)
    LogLine("http warning: %s is not readable yet", labMaster.file.c_str());
  LogLine("http master listening on %d mode %s file \"%s\" piece %d pause %d size %llu", labMaster.port,
          MasterModeName(labMaster.mode), labMaster.file.c_str(), labMaster.piece, labMaster.pauseMs,
          (unsigned long long)labMaster.size);
  return true;
}

void CloseMaster() {
  for (size_t i = 0; i < connections.size(); i++)
    if (connections[i].state != CONNECTION_CLOSED) CloseConnection(&connections[i], "lab exit");
  connections.clear();
  if (listenFd >= 0) close(listenFd);
  listenFd = -1;
}

void AddMasterPolls(PollSet *set, int64_t now) {
  if (listenFd < 0) return;
  AddPoll(set, listenFd, POLLIN, OWNER_HTTP_LISTEN, 0);
  for (size_t i = 0; i < connections.size(); i++) {
    if (connections[i].state == CONNECTION_CLOSED) continue;
    AddPoll(set, connections[i].fd, ConnectionEvents(connections[i], now), OWNER_HTTP_CONNECTION, i);
  }
}

void HandleMasterPoll(const PollSlot &slot, short revents, int64_t now) {
  if (slot.owner == OWNER_HTTP_LISTEN) return AcceptConnections(now);
  Connection *connection = &connections[slot.index];
  if (connection->state == CONNECTION_CLOSED) return;
  if (connection->state == CONNECTION_SENDING) {
    if (revents & (POLLOUT | POLLERR | POLLHUP)) PumpConnection(connection, now);
    return;
  }
  if (revents & (POLLIN | POLLERR | POLLHUP)) ReadConnection(connection, now);
}

void RunMasterTimers(int64_t now) {
  for (size_t i = 0; i < connections.size(); i++) {
    Connection *connection = &connections[i];
    if (connection->state == CONNECTION_GATED) OpenGate(connection);
    if (connection->state == CONNECTION_SENDING && connection->paced) PumpConnection(connection, now);
    bool timed = connection->state == CONNECTION_READING || connection->state == CONNECTION_DRAINING;
    if (timed && now >= connection->deadlineNs) CloseConnection(connection, "timed out");
  }
}

int64_t NextMasterDue() {
  int64_t due = NO_DEADLINE;
  for (size_t i = 0; i < connections.size(); i++) {
    const Connection &connection = connections[i];
    int64_t next = NO_DEADLINE;
    if (connection.state == CONNECTION_READING || connection.state == CONNECTION_DRAINING)
      next = connection.deadlineNs;
    if (connection.state == CONNECTION_SENDING && connection.paced && connection.sent == connection.allowed)
      next = connection.nextPieceNs;
    if (connection.state == CONNECTION_GATED) next = MonotonicNs() + GATE_POLL_MS * NS_PER_MS;
    if (next < due) due = next;
  }
  return due;
}

void DropClosedConnections() {
  size_t kept = 0;
  for (size_t i = 0; i < connections.size(); i++)
    if (connections[i].state != CONNECTION_CLOSED) std::swap(connections[kept++], connections[i]);
  connections.resize(kept);
}
