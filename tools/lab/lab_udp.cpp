// Simulated game servers: one UDP socket each, replies delivered later from one timer queue, and
// with a master named the heartbeats, pings and shutdowns that real servers send it.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "lab.h"

namespace {

enum { MAX_DATAGRAM = 65536, READS_PER_WAKE = 64, LOGGED_REQUEST_BYTES = 64 };

const char PING[] = "\xff\xff\xff\xffping";
const char SHUTDOWN[] = "\xff\xff\xff\xffshutdown";
const char QUERY[] = "query\n";  // sent with its NUL: "query\n\0"
const char ANSWER_MARK[] = "\xff\xff\xff\xff";
const char ANSWER_HEAD[] = "servers ";
const int64_t LOST_ANSWER_NS = 1000 * NS_PER_MS;
const size_t BURST_WINDOW = 64;

struct GameSocket {
  int fd;      // -1 for a closed server
  int fromFd;  // -1 unless fromport is set
  unsigned requests;
  unsigned answered;
  std::string reply;  // built once: every mode answers every request the same way
  std::string heartbeat;
};

// A reply waiting for its delay; the queue stays sorted by dueNs, ties in arrival order.
struct PendingReply {
  int64_t dueNs;
  int64_t receivedNs;
  size_t server;
  sockaddr_in to;
};

std::vector<GameSocket> gameSockets;
std::vector<PendingReply> pendingReplies;
int64_t nextHeartbeatNs = 0;  // the first round goes out at once
uint64_t heartbeatsSent = 0;
int queryFd = -1;          // a burst's: asks the master for its list after each window
int64_t burstStartNs = 0;  // when the first pass over the servers was taken
bool burstOver = false;

int BindUdp(int port) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address = LoopbackAddress(port);
  if (bind(fd, (const sockaddr *)&address, sizeof(address)) < 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

bool OpenGameServer(const LabServer &server, GameSocket *game) {
  game->fd = -1;
  game->fromFd = -1;
  game->requests = 0;
  game->answered = 0;
  BuildStatusReply(server, &game->reply);
  BuildHeartbeat(server, &game->heartbeat);
  if (server.mode == MODE_CLOSED) return true;
  game->fd = BindUdp(server.port);
  if (game->fd < 0) {
    LogLine("udp %d bind failed: %s", server.port, strerror(errno));
    return false;
  }
  if (server.fromPort == 0) return true;
  game->fromFd = BindUdp(server.fromPort);
  if (game->fromFd < 0) {
    LogLine("udp %d bind of fromport %d failed: %s", server.port, server.fromPort, strerror(errno));
    return false;
  }
  return true;
}

void LogGameServer(const LabServer &server, const GameSocket &game) {
  std::string host = ServerHostName(server);
  LogLine(
      "udp %d %s mode %s host \"%s\" map \"%s\" players %zu delay %d ignore %d twice %d "
      "fromport %d reply len %zu",
      server.port, server.mode == MODE_CLOSED ? "not bound" : "listening", ServerModeName(server.mode),
      EscapeForLog(host.data(), host.size(), 80).c_str(),
      EscapeForLog(server.map.data(), server.map.size(), 80).c_str(), server.players.size(), server.delayMs,
      server.ignoreCount, server.twice, server.fromPort, game.reply.size());
}

void ScheduleReply(size_t index, const sockaddr_in &to, int64_t now) {
  PendingReply pending;
  pending.receivedNs = now;
  pending.dueNs = now + (int64_t)labServers[index].delayMs * NS_PER_MS;
  pending.server = index;
  pending.to = to;
  size_t position = pendingReplies.size();
  while (position > 0 && pendingReplies[position - 1].dueNs > pending.dueNs) position--;
  pendingReplies.insert(pendingReplies.begin() + (long)position, pending);
}

void HandleRequest(size_t index, const char *data, size_t length, const sockaddr_in &from, int64_t now) {
  const LabServer &server = labServers[index];
  if (IsAck(data, length)) {
    LogLine("udp %d ack from %s", server.port, PeerText(from).c_str());
    return;
  }
  unsigned number = ++gameSockets[index].requests;
  LogLine("udp %d request from %s len %zu (#%u) data \"%s\"", server.port, PeerText(from).c_str(), length,
          number, EscapeForLog(data, length, LOGGED_REQUEST_BYTES).c_str());
  if (number <= (unsigned)server.ignoreCount) {
    LogLine("udp %d ignored request #%u", server.port, number);
  } else if (!IsStatusRequest(data, length)) {
    LogLine("udp %d not a status request, no reply to #%u", server.port, number);
  } else if (!ServerAnswers(server)) {
    LogLine("udp %d silent, no reply to #%u", server.port, number);
  } else if (server.mode == MODE_ONCE && gameSockets[index].answered > 0) {
    LogLine("udp %d answered once, no reply to #%u", server.port, number);
  } else {
    gameSockets[index].answered++;
    ScheduleReply(index, from, now);
    if (server.twice) ScheduleReply(index, from, now);
  }
}

void SendReply(const PendingReply &pending, int64_t now) {
  const LabServer &server = labServers[pending.server];
  const GameSocket &game = gameSockets[pending.server];
  int fd = game.fromFd >= 0 ? game.fromFd : game.fd;
  ssize_t sent =
      sendto(fd, game.reply.data(), game.reply.size(), 0, (const sockaddr *)&pending.to, sizeof(pending.to));
  if (sent < 0) {
    LogLine("udp %d reply failed: %s", server.port, strerror(errno));
    return;
  }
  char fromText[32] = "";
  if (game.fromFd >= 0) snprintf(fromText, sizeof(fromText), " from port %d", server.fromPort);
  LogLine("udp %d reply len %zu%s after %lld ms", server.port, game.reply.size(), fromText,
          (long long)((now - pending.receivedNs) / NS_PER_MS));
}

// A closed server has no socket: it sends from its port bound for that datagram only, so the
// master's check finds nothing there, as after a heartbeat forged for that address.
void SendToMaster(size_t index, const char *data, size_t length, const char *what, bool quiet) {
  int port = labServers[index].port;
  int fd = gameSockets[index].fd;
  bool bound = fd < 0;
  if (bound) fd = BindUdp(port);
  const sockaddr_in &to = labHeartbeat.master;
  if (fd < 0 || sendto(fd, data, length, 0, (const sockaddr *)&to, sizeof(to)) < 0)
    LogLine("udp %d %s to %s failed: %s", port, what, PeerText(to).c_str(), strerror(errno));
  else if (!quiet)
    LogLine("udp %d %s to %s len %zu%s", port, what, PeerText(to).c_str(), length,
            bound ? " from a socket bound for it alone" : "");
  if (bound && fd >= 0) close(fd);
}

// A burst's next round waits for the master's answer to a query sent after the last one: the
// master has read every heartbeat before it by then, so the lab never outruns it.
void AskForList(int64_t now) {
  if (queryFd < 0) queryFd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const sockaddr_in &to = labHeartbeat.master;
  if (queryFd < 0 || sendto(queryFd, QUERY, sizeof(QUERY), 0, (const sockaddr *)&to, sizeof(to)) < 0)
    LogLine("burst query to %s failed: %s", PeerText(to).c_str(), strerror(errno));
  nextHeartbeatNs = now + LOST_ANSWER_NS;
}

}  // namespace

bool OpenGameServers() {
  gameSockets.resize(labServers.size());
  for (size_t i = 0; i < labServers.size(); i++) {
    if (!OpenGameServer(labServers[i], &gameSockets[i])) return false;
    LogGameServer(labServers[i], gameSockets[i]);
  }
  return true;
}

void CloseGameServers() {
  for (size_t i = 0; heartbeatsSent > 0 && i < gameSockets.size(); i++)
    SendToMaster(i, SHUTDOWN, sizeof(SHUTDOWN) - 1, "shutdown", false);
  if (queryFd >= 0) close(queryFd);
  queryFd = -1;
  for (size_t i = 0; i < gameSockets.size(); i++) {
    if (gameSockets[i].fd >= 0) close(gameSockets[i].fd);
    if (gameSockets[i].fromFd >= 0) close(gameSockets[i].fromFd);
    gameSockets[i].fd = -1;
    gameSockets[i].fromFd = -1;
  }
  pendingReplies.clear();
}

void AddGameServerPolls(PollSet *set) {
  for (size_t i = 0; i < gameSockets.size(); i++)
    if (gameSockets[i].fd >= 0) AddPoll(set, gameSockets[i].fd, POLLIN, OWNER_UDP, i);
}

void ReadGameServer(size_t index, int64_t now) {
  static char data[MAX_DATAGRAM];
  for (int i = 0; i < READS_PER_WAKE; i++) {
    sockaddr_in from;
    socklen_t fromLength = sizeof(from);
    ssize_t length = recvfrom(gameSockets[index].fd, data, sizeof(data), 0, (sockaddr *)&from, &fromLength);
    if (length < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        LogLine("udp %d receive failed: %s", labServers[index].port, strerror(errno));
      return;
    }
    HandleRequest(index, data, (size_t)length, from, now);
  }
}

void SendDueReplies(int64_t now) {
  size_t due = 0;
  while (due < pendingReplies.size() && pendingReplies[due].dueNs <= now) {
    SendReply(pendingReplies[due], now);
    due++;
  }
  pendingReplies.erase(pendingReplies.begin(), pendingReplies.begin() + (long)due);
}

int64_t NextReplyDue() { return pendingReplies.empty() ? NO_DEADLINE : pendingReplies[0].dueNs; }

// The next server's heartbeat, its first one after a ping, as a server does on its start. A
// burst logs the first pass only, so that the log costs the sender nothing.
void SendNextHeartbeat() {
  size_t index = heartbeatsSent % gameSockets.size();
  bool first = heartbeatsSent < gameSockets.size();
  if (first) SendToMaster(index, PING, sizeof(PING) - 1, "ping", false);
  const std::string &heartbeat = gameSockets[index].heartbeat;
  SendToMaster(index, heartbeat.data(), heartbeat.size(), "heartbeat", labHeartbeat.burst > 0 && !first);
  heartbeatsSent++;
}

// Timed, every server's heartbeat each interval. A burst sends them in windows small enough for
// the master's socket buffer, each once the master has answered the query after the last.
void SendDueHeartbeats(int64_t now) {
  if (!labHeartbeat.enabled || burstOver || now < nextHeartbeatNs || gameSockets.empty()) return;
  if (labHeartbeat.burst == 0) {
    for (size_t i = 0; i < gameSockets.size(); i++) SendNextHeartbeat();
    nextHeartbeatNs = now + labHeartbeat.intervalNs;
    return;
  }
  if (burstStartNs == 0 && heartbeatsSent >= gameSockets.size()) burstStartNs = now;
  for (size_t i = 0; i < BURST_WINDOW && heartbeatsSent < gameSockets.size() + labHeartbeat.burst; i++)
    SendNextHeartbeat();
  AskForList(now);
}

int64_t NextHeartbeatDue() { return labHeartbeat.enabled && !burstOver ? nextHeartbeatNs : NO_DEADLINE; }

void AddQueryPoll(PollSet *set) {
  if (queryFd >= 0) AddPoll(set, queryFd, POLLIN, OWNER_QUERY, 0);
}

void ReadQueryAnswer(int64_t now) {
  char data[MAX_DATAGRAM];
  ssize_t length = recv(queryFd, data, sizeof(data), 0);
  size_t mark = length >= 4 && memcmp(data, ANSWER_MARK, 4) == 0 ? 4 : 0;
  size_t head = sizeof(ANSWER_HEAD) - 1;
  if (length < 0 || (size_t)length < mark + head || memcmp(data + mark, ANSWER_HEAD, head) != 0) return;
  uint64_t timed = heartbeatsSent - gameSockets.size();  // after the first pass
  if (burstStartNs == 0 || timed < labHeartbeat.burst) {
    nextHeartbeatNs = now;
    return;
  }
  double seconds = (double)(now - burstStartNs) / 1e9;
  LogLine(
      "burst: %llu heartbeats in %.3f s after the first pass, %.0f a second; the answer lists %zu servers",
      (unsigned long long)timed, seconds, seconds > 0 ? (double)timed / seconds : 0.0,
      ((size_t)length - mark - head) / 6);
  burstOver = true;
}

bool BurstOver() { return burstOver; }
