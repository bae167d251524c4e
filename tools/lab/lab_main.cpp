// varnet-lab entry point: command line, config file, log, signals, ready file and the poll loop.
//
// Everything runs on one thread in one poll loop. Delays (reply delays, slow master pieces,
// timeouts) are deadlines on the monotonic clock, never sleeps, so one slow server cannot hold
// back another. Signals only write a byte to a pipe that the loop polls.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "lab.h"

std::vector<LabServer> labServers;
LabMaster labMaster;
LabHeartbeat labHeartbeat;

namespace {

enum { LOG_LINE_SIZE = 4096, MAX_POLL_WAIT_MS = 1000, DEFAULT_HEARTBEAT_S = 300 };

struct LabOptions {
  std::string logPath;
  std::string readyPath;
  double lifetimeSeconds;
  int portOffset;
};

FILE *logFile = stderr;
int wakePipe[2] = {-1, -1};
volatile sig_atomic_t stopSignal = 0;

const char USAGE[] =
    "usage: varnet-lab [--config FILE] [--server OPTIONS]... [--master OPTIONS]\n"
    "                  [--lifetime SECONDS] [--log FILE] [--ready FILE] [--port-offset N]\n"
    "                  [--heartbeat ADDRESS:PORT [--interval SECONDS | --burst COUNT]]\n"
    "server OPTIONS: port=N[,host=TEXT][,map=TEXT][,maxclients=N][,delay=MS][,ignore=N]\n"
    "                [,players=NAME/SCORE/PING;...][,twice=1][,fromport=N][,game=NAME]\n"
    "                [,mode=MODE]\n"
    "  MODE: normal silent closed garbage oversize empty manyplayers longhost longnames\n"
    "        nul nolf cronly once\n"
    "master OPTIONS: [port=N][,file=PATH][,mode=MODE][,piece=N][,pause=MS][,size=N]\n"
    "  MODE: list 404 emptybody slow size cutoff hang nul bom\n"
    "See tools/lab/README.md.\n";

void OnSignal(int number) {
  stopSignal = number;
  char byte = 1;
  ssize_t ignored = write(wakePipe[1], &byte, 1);
  (void)ignored;
}

bool InstallSignals() {
  if (pipe2(wakePipe, O_NONBLOCK | O_CLOEXEC) < 0) return false;
  struct sigaction action;
  memset(&action, 0, sizeof(action));
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGTERM, &action, NULL) < 0 || sigaction(SIGINT, &action, NULL) < 0) return false;
  signal(SIGPIPE, SIG_IGN);
  return true;
}

bool LoadConfig(const char *path) {
  FILE *file = fopen(path, "r");
  if (file == NULL) {
    fprintf(stderr, "varnet-lab: cannot open %s: %s\n", path, strerror(errno));
    return false;
  }
  char *line = NULL;
  size_t capacity = 0;
  ssize_t length;
  int lineNumber = 0;
  bool ok = true;
  while (ok && (length = getline(&line, &capacity, file)) >= 0) {
    char error[LAB_ERROR_SIZE] = "";
    ConfigLineKind kind;
    LabServer server;
    LabMaster master;
    lineNumber++;
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) length--;
    ok = ParseConfigLine(line, (size_t)length, &kind, &server, &master, error, sizeof(error));
    if (ok && kind == CONFIG_MASTER && labMaster.enabled) {
      snprintf(error, sizeof(error), "the master is configured twice");
      ok = false;
    }
    if (!ok) fprintf(stderr, "varnet-lab: %s:%d: %s\n", path, lineNumber, error);
    if (ok && kind == CONFIG_SERVER) labServers.push_back(server);
    if (ok && kind == CONFIG_MASTER) labMaster = master;
  }
  free(line);
  fclose(file);
  return ok;
}

bool AddServerOption(const char *text) {
  char error[LAB_ERROR_SIZE] = "";
  LabServer server;
  if (!ParseServerOptions(text, &server, error, sizeof(error))) {
    fprintf(stderr, "varnet-lab: --server %s: %s\n", text, error);
    return false;
  }
  labServers.push_back(server);
  return true;
}

bool SetMasterFromOption(const char *text) {
  char error[LAB_ERROR_SIZE] = "";
  if (labMaster.enabled) {
    fprintf(stderr, "varnet-lab: the master is configured twice\n");
    return false;
  }
  if (!ParseMasterOptions(text, &labMaster, error, sizeof(error))) {
    fprintf(stderr, "varnet-lab: --master %s: %s\n", text, error);
    return false;
  }
  return true;
}

bool SetSeconds(const char *name, const char *text, double *seconds) {
  char *end = NULL;
  double value = strtod(text, &end);
  if (end == text || *end != '\0' || !(value > 0) || value > 31536000) {
    fprintf(stderr, "varnet-lab: %s %s: want seconds above 0\n", name, text);
    return false;
  }
  *seconds = value;
  return true;
}

// The master's UDP address, dotted IPv4 and a port: the lab names no host it would have to look up.
bool SetHeartbeatMaster(const char *text) {
  const char *colon = strrchr(text, ':');
  char host[INET_ADDRSTRLEN] = "";
  char *end = NULL;
  long port = 0;
  sockaddr_in *master = &labHeartbeat.master;
  if (colon != NULL && (size_t)(colon - text) < sizeof(host)) {
    memcpy(host, text, (size_t)(colon - text));
    port = strtol(colon + 1, &end, 10);
  }
  if (end == NULL || end == colon + 1 || *end != '\0' || port < 1 || port > 65535 ||
      inet_pton(AF_INET, host, &master->sin_addr) != 1) {
    fprintf(stderr, "varnet-lab: --heartbeat %s: want a.b.c.d:PORT\n", text);
    return false;
  }
  master->sin_family = AF_INET;
  master->sin_port = htons((uint16_t)port);
  labHeartbeat.enabled = true;
  return true;
}

bool SetPortOffset(const char *text, LabOptions *options) {
  char *end = NULL;
  long offset = strtol(text, &end, 10);
  if (end == text || *end != '\0' || offset < -65535 || offset > 65535) {
    fprintf(stderr, "varnet-lab: --port-offset %s: want a whole number of ports\n", text);
    return false;
  }
  options->portOffset = (int)offset;
  return true;
}

bool OutsidePorts(int port) { return port < 1 || port > 65535; }

// Test runs that share a machine each take their own range of ports: every port a config names
// (the servers', their fromport, the master's) moves by the same offset.
bool ShiftPorts(int offset) {
  bool bad = labMaster.enabled && OutsidePorts(labMaster.port + offset);
  for (LabServer &server : labServers) {
    bad = bad || OutsidePorts(server.port + offset) ||
          (server.fromPort != 0 && OutsidePorts(server.fromPort + offset));
    server.port += offset;
    if (server.fromPort != 0) server.fromPort += offset;
  }
  if (labMaster.enabled) labMaster.port += offset;
  if (bad) fprintf(stderr, "varnet-lab: --port-offset %d moves a port out of 1..65535\n", offset);
  return !bad;
}

// Options apply in order, so servers are listed in the order --config and --server appear.
bool ApplyOption(const std::string &name, const char *value, LabOptions *options) {
  if (name == "--config") return LoadConfig(value);
  if (name == "--server") return AddServerOption(value);
  if (name == "--master") return SetMasterFromOption(value);
  if (name == "--lifetime") return SetSeconds("--lifetime", value, &options->lifetimeSeconds);
  if (name == "--heartbeat") return SetHeartbeatMaster(value);
  if (name == "--burst") {
    char *end = NULL;
    long long count = strtoll(value, &end, 10);
    if (end == value || *end != '\0' || count < 1 || count > 1000000000) {
      fprintf(stderr, "varnet-lab: --burst %s: want 1 to 1000000000 heartbeats\n", value);
      return false;
    }
    labHeartbeat.burst = (uint64_t)count;
    return true;
  }
  if (name == "--interval") {
    double seconds = 0;
    if (!SetSeconds("--interval", value, &seconds)) return false;
    labHeartbeat.intervalNs = (int64_t)(seconds * 1e9);
    return true;
  }
  if (name == "--port-offset") return SetPortOffset(value, options);
  if (name == "--log")
    options->logPath = value;
  else if (name == "--ready")
    options->readyPath = value;
  else {
    fprintf(stderr, "varnet-lab: unknown option %s\n%s", name.c_str(), USAGE);
    return false;
  }
  return true;
}

// 0: go on, 1: stop with success (--help), 2: usage error.
int ParseCommandLine(int argc, char **argv, LabOptions *options) {
  options->lifetimeSeconds = 600;
  options->portOffset = 0;
  InitLabMaster(&labMaster);
  memset(&labHeartbeat, 0, sizeof(labHeartbeat));
  labHeartbeat.intervalNs = DEFAULT_HEARTBEAT_S * 1000 * NS_PER_MS;
  for (int i = 1; i < argc; i++) {
    std::string name = argv[i];
    if (name == "--help" || name == "-h") {
      fputs(USAGE, stdout);
      return 1;
    }
    if (i + 1 >= argc) {
      fprintf(stderr, "varnet-lab: %s needs a value\n%s", name.c_str(), USAGE);
      return 2;
    }
    if (!ApplyOption(name, argv[++i], options)) return 2;
  }
  if (!ShiftPorts(options->portOffset)) return 2;
  char error[LAB_ERROR_SIZE] = "";
  if (!CheckLabSetup(labServers, labMaster, error, sizeof(error))) {
    fprintf(stderr, "varnet-lab: %s\n", error);
    return 2;
  }
  return 0;
}

bool OpenLog(const std::string &path) {
  if (path.empty()) return true;
  logFile = fopen(path.c_str(), "w");
  if (logFile != NULL) return true;
  fprintf(stderr, "varnet-lab: cannot write %s: %s\n", path.c_str(), strerror(errno));
  logFile = stderr;
  return false;
}

// The PID goes to FILE.tmp first so a waiting script never reads a half-written file.
bool WriteReadyFile(const std::string &path) {
  if (path.empty()) return true;
  std::string temporary = path + ".tmp";
  FILE *file = fopen(temporary.c_str(), "w");
  if (file == NULL) return false;
  fprintf(file, "%ld\n", (long)getpid());
  bool written = fclose(file) == 0;
  return written && rename(temporary.c_str(), path.c_str()) == 0;
}

int PollTimeoutMs(int64_t now, int64_t due) {
  if (due <= now) return 0;
  int64_t waitMs = (due - now + NS_PER_MS - 1) / NS_PER_MS;  // rounded up: never fire early
  return waitMs > MAX_POLL_WAIT_MS ? MAX_POLL_WAIT_MS : (int)waitMs;
}

void DispatchPolls(const PollSet &set, int64_t now) {
  for (size_t i = 0; i < set.fds.size(); i++) {
    short revents = set.fds[i].revents;
    if (revents == 0) continue;
    const PollSlot &slot = set.slots[i];
    if (slot.owner == OWNER_WAKE) {
      char drain[64];
      while (read(wakePipe[0], drain, sizeof(drain)) > 0) {}
    } else if (slot.owner == OWNER_UDP) {
      ReadGameServer(slot.index, now);
    } else if (slot.owner == OWNER_QUERY) {
      ReadQueryAnswer(now);
    } else {
      HandleMasterPoll(slot, revents, now);
    }
  }
}

const char *RunLoop(int64_t endNs) {
  while (stopSignal == 0) {
    int64_t now = MonotonicNs();
    if (now >= endNs) return "lifetime over";
    if (BurstOver()) return "burst over";
    SendDueReplies(now);
    SendDueHeartbeats(now);
    RunMasterTimers(now);
    PollSet set;
    AddPoll(&set, wakePipe[0], POLLIN, OWNER_WAKE, 0);
    AddGameServerPolls(&set);
    AddQueryPoll(&set);
    AddMasterPolls(&set, now);
    int64_t due = endNs;
    if (NextReplyDue() < due) due = NextReplyDue();
    if (NextMasterDue() < due) due = NextMasterDue();
    if (NextHeartbeatDue() < due) due = NextHeartbeatDue();
    if (poll(set.fds.data(), set.fds.size(), PollTimeoutMs(now, due)) < 0 && errno != EINTR) {
      LogLine("poll failed: %s", strerror(errno));
      return "poll failed";
    }
    DispatchPolls(set, MonotonicNs());
    DropClosedConnections();
  }
  return stopSignal == SIGINT ? "SIGINT" : "SIGTERM";
}

}  // namespace

void LogLine(const char *format, ...) {
  char text[LOG_LINE_SIZE];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  timeval now;  // wall clock (CLOCK_REALTIME), to line up with the browser's own logs
  gettimeofday(&now, NULL);
  tm local;
  localtime_r(&now.tv_sec, &local);
  fprintf(logFile, "%02d:%02d:%02d.%03ld %s\n", local.tm_hour, local.tm_min, local.tm_sec,
          (long)(now.tv_usec / 1000), text);
  fflush(logFile);
}

int64_t MonotonicNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void AddPoll(PollSet *set, int fd, short events, PollOwner owner, size_t index) {
  pollfd entry = {fd, events, 0};
  PollSlot slot = {owner, index};
  set->fds.push_back(entry);
  set->slots.push_back(slot);
}

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address;
  memset(&address, 0, sizeof(address));
  address.sin_family = AF_INET;
  address.sin_port = htons((uint16_t)port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

std::string PeerText(const sockaddr_in &address) {
  char host[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &address.sin_addr, host, sizeof(host));
  char text[64];
  snprintf(text, sizeof(text), "%s:%d", host, ntohs(address.sin_port));
  return text;
}

int main(int argc, char **argv) {
  LabOptions options;
  int parsed = ParseCommandLine(argc, argv, &options);
  if (parsed != 0) return parsed == 1 ? 0 : 2;
  if (!OpenLog(options.logPath)) return 2;
  // A ready file left by an earlier run would let a script go ahead before we are listening.
  if (!options.readyPath.empty()) unlink(options.readyPath.c_str());
  if (!InstallSignals()) {
    fprintf(stderr, "varnet-lab: cannot install signal handlers: %s\n", strerror(errno));
    return 1;
  }
  int64_t endNs = MonotonicNs() + (int64_t)(options.lifetimeSeconds * 1e9);
  if (!OpenGameServers() || !OpenMaster()) {
    fprintf(stderr, "varnet-lab: cannot open every socket (see the log)\n");
    return 1;
  }
  if (!WriteReadyFile(options.readyPath)) {
    fprintf(stderr, "varnet-lab: cannot write %s: %s\n", options.readyPath.c_str(), strerror(errno));
    return 1;
  }
  LogLine("lab ready, pid %ld, %zu servers, lifetime %.3f s", (long)getpid(), labServers.size(),
          options.lifetimeSeconds);
  printf("ready\n");
  fflush(stdout);
  LogLine("lab exit: %s", RunLoop(endNs));
  CloseGameServers();
  CloseMaster();
  return 0;
}
