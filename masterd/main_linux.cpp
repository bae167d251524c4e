// varnet-master: start-up, the published outputs (HTTP, --write, --state), --ready and the stop.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "masterd_linux.h"

enum { MESSAGE_SIZE = 8192, TEMP_SUFFIX_SIZE = 8 };

volatile int stopRequested;
static char *serversText;  // both sized once from the options
static char *stateText;

void LogText(const char *text) { fprintf(stderr, "varnet-master: %s\n", text); }

static void LogError(const char *what, const char *path) {
  fprintf(stderr, "varnet-master: %s %s: %s\n", what, path, strerror(errno));
}

// The directory's entry is flushed too, so after a crash the file is the old one or the new one.
static bool SyncDirectoryOf(const char *path) {
  char directory[PATH_SIZE];
  snprintf(directory, sizeof directory, "%s", path);
  char *slash = strrchr(directory, '/');
  if (slash == directory)
    slash[1] = 0;
  else if (slash != NULL)
    *slash = 0;
  else
    snprintf(directory, sizeof directory, ".");
  int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  fsync(fd);
  close(fd);
  return true;
}

static bool WriteAll(int fd, const char *data, int32_t length) {
  while (length > 0) {
    ssize_t written = write(fd, data, (size_t)length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    length -= (int32_t)written;
  }
  return true;
}

// Written to PATH.tmp, flushed to the disk and renamed over PATH: a reader sees the old file or
// the new one, whole. On any failure PATH stays as it was.
bool WriteFileWhole(const char *path, const char *data, int32_t length) {
  char temp[PATH_SIZE + TEMP_SUFFIX_SIZE];
  snprintf(temp, sizeof temp, "%s.tmp", path);
  int fd = open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    LogError("cannot write", temp);
    return false;
  }
  bool ok = WriteAll(fd, data, length) && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
  if (close(fd) != 0) ok = false;
  if (ok && rename(temp, path) == 0) return SyncDirectoryOf(path);
  LogError("cannot write", path);
  unlink(temp);
  return false;
}

// Runs on the UDP thread after every tick that changed the list.
void PublishList(void) {
  int64_t wallNow = (int64_t)time(NULL);
  int32_t length = BuildServersText(serversText, ServersTextSize());
  PublishHttp(serversText, length, wallNow);
  if (masterOptions.writePath[0]) WriteFileWhole(masterOptions.writePath, serversText, length);
  if (masterOptions.statePath[0]) {
    int32_t stateLength = BuildStateText(stateText, StateTextSize(), MonotonicMs(), wallNow);
    WriteFileWhole(masterOptions.statePath, stateText, stateLength);
  }
  listChanged = false;
}

// A missing state file is a first start; one longer than the table can hold is read in part.
static void LoadState(void) {
  if (masterOptions.statePath[0] == 0) return;
  int fd = open(masterOptions.statePath, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) LogError("cannot read", masterOptions.statePath);
    return;
  }
  int32_t length = 0, size = StateTextSize();
  ssize_t got;
  while (length < size && (got = read(fd, stateText + length, (size_t)(size - length))) > 0)
    length += (int32_t)got;
  close(fd);
  int32_t loaded = LoadStateText(stateText, length, MonotonicMs(), (int64_t)time(NULL));
  char line[PATH_SIZE + 64];
  snprintf(line, sizeof line, "%d servers loaded from %s, each asked again", (int)loaded,
           masterOptions.statePath);
  LogText(line);
}

static void WriteReady(uint16_t udpPort, uint16_t httpPort) {
  if (masterOptions.readyPath[0] == 0) return;
  char text[96];
  int length = snprintf(text, sizeof text, "pid %d\nudp %u\nhttp %u\n", (int)getpid(), udpPort, httpPort);
  WriteFileWhole(masterOptions.readyPath, text, length);
}

static void RequestStop(int) { stopRequested = 1; }

static void InstallSignals(void) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = RequestStop;
  sigaction(SIGINT, &action, NULL);
  sigaction(SIGTERM, &action, NULL);
  signal(SIGPIPE, SIG_IGN);
}

static uint32_t RandomSeed(void) {
  uint32_t seed = 0;
  if (getrandom(&seed, sizeof seed, GRND_NONBLOCK) != sizeof seed)
    seed = (uint32_t)time(NULL) ^ (uint32_t)getpid();
  return seed;
}

// Tables, state, sockets, in that order: nothing is listening before the loaded list is ready.
static int StartDaemon(uint32_t bindIp, int *udpFd) {
  serversText = (char *)malloc((size_t)ServersTextSize());
  stateText = (char *)malloc((size_t)StateTextSize() + 1);
  LogLine = LogText;
  if (!serversText || !stateText || !StartMasterList(&masterOptions, RandomSeed())) {
    LogText("not enough memory for the tables");
    return 1;
  }
  LoadState();
  uint16_t udpPort = 0, httpPort = 0;
  *udpFd = OpenUdpSocket(bindIp, masterOptions.udpPort, &udpPort);
  if (*udpFd < 0) {
    LogError("cannot open UDP port", masterOptions.bindAddress);
    return 1;
  }
  if (masterOptions.httpPort != 0 && !StartHttp(bindIp, masterOptions.httpPort, &httpPort)) {
    LogError("cannot start HTTP on", masterOptions.bindAddress);
    return 1;
  }
  PublishList();
  char line[160];
  snprintf(line, sizeof line, "listening on %s, UDP %u, HTTP %u, game %s", masterOptions.bindAddress, udpPort,
           httpPort, masterOptions.game);
  LogText(line);
  WriteReady(udpPort, httpPort);
  return 0;
}

int main(int argc, char **argv) {
  static char message[MESSAGE_SIZE];
  int parsed = ParseOptions(argc, argv, &masterOptions, message, sizeof message);
  if (parsed != 0) {
    fputs(message, parsed == 1 ? stdout : stderr);
    return parsed == 1 ? 0 : 2;
  }
  struct in_addr bind;
  if (inet_pton(AF_INET, masterOptions.bindAddress, &bind) != 1) {
    fprintf(stderr, "varnet-master: --bind needs a dotted IPv4 address, not '%s'\n",
            masterOptions.bindAddress);
    return 2;
  }
  if (masterOptions.readyPath[0]) unlink(masterOptions.readyPath);  // a waiting script never reads an old one
  InstallSignals();
  int udpFd = -1;
  if (StartDaemon(ntohl(bind.s_addr), &udpFd) != 0) return 1;
  RunUdpLoop(udpFd);
  StopHttp();
  if (masterOptions.statePath[0]) PublishList();  // the last word: the state as it stands
  LogText("stopped");
  return 0;
}
