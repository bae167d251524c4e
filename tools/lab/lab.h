// Shared state of the lab process: its configuration, log, clock and the parts of its poll loop.
#pragma once
#include <netinet/in.h>
#include <poll.h>
#include <stdint.h>

#include <vector>

#include "lab_reply.h"

enum PollOwner { OWNER_WAKE, OWNER_UDP, OWNER_QUERY, OWNER_HTTP_LISTEN, OWNER_HTTP_CONNECTION };

struct PollSlot {
  PollOwner owner;
  size_t index;
};

// pollfd entries and, at the same positions, who handles them.
struct PollSet {
  std::vector<pollfd> fds;
  std::vector<PollSlot> slots;
};

const int64_t NO_DEADLINE = INT64_MAX;
const int64_t NS_PER_MS = 1000000;

// Where and how often the servers announce themselves, as real servers do to their master.
struct LabHeartbeat {
  bool enabled;
  sockaddr_in master;
  int64_t intervalNs;
  uint64_t burst;  // 0: a round every intervalNs; else heartbeats sent after the first pass, back to back
};

extern std::vector<LabServer> labServers;
extern LabMaster labMaster;
extern LabHeartbeat labHeartbeat;

void LogLine(const char *format, ...) __attribute__((format(printf, 1, 2)));
int64_t MonotonicNs();
void AddPoll(PollSet *set, int fd, short events, PollOwner owner, size_t index);
sockaddr_in LoopbackAddress(int port);
// "a.b.c.d:port" of a peer, for the log.
std::string PeerText(const sockaddr_in &address);

// Game servers (lab_udp.cpp).
bool OpenGameServers();
void CloseGameServers();
void AddGameServerPolls(PollSet *set);
void ReadGameServer(size_t index, int64_t now);
void SendDueReplies(int64_t now);
int64_t NextReplyDue();
void SendDueHeartbeats(int64_t now);
int64_t NextHeartbeatDue();
void AddQueryPoll(PollSet *set);
void ReadQueryAnswer(int64_t now);
bool BurstOver();

// Master server (lab_http.cpp).
bool OpenMaster();
void CloseMaster();
void AddMasterPolls(PollSet *set, int64_t now);
void HandleMasterPoll(const PollSlot &slot, short revents, int64_t now);
void RunMasterTimers(int64_t now);
int64_t NextMasterDue();
void DropClosedConnections();
