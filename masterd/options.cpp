// The command line: every flag with its default and range, read strictly.
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "masterd.h"

enum FlagKind { FLAG_NUMBER, FLAG_PORT, FLAG_TEXT, FLAG_SWITCH };

struct Flag {
  const char *name;
  FlagKind kind;
  size_t offset;  // of the field in MasterOptions
  int32_t min, max;
  size_t size;  // of a text field
  const char *help;
  const char *value;  // what --help calls the value
};

#define NUMBER(name, field, min, max, help)                                                                  \
  { name, FLAG_NUMBER, offsetof(MasterOptions, field), min, max, 0, help, "N" }
#define TEXT(name, field, value, help)                                                                       \
  { name, FLAG_TEXT, offsetof(MasterOptions, field), 0, 0, sizeof(MasterOptions::field), help, value }

static const Flag FLAGS[] = {
    {"--udp", FLAG_PORT, offsetof(MasterOptions, udpPort), 0, 65535, 0,
     "UDP port for heartbeats and queries (0 or any: a free one)", "PORT"},
    {"--http", FLAG_PORT, offsetof(MasterOptions, httpPort), -1, 65535, 0,
     "TCP port of the built-in HTTP server (0: none, any: a free one)", "PORT"},
    TEXT("--bind", bindAddress, "ADDR", "IPv4 address to listen on"),
    TEXT("--game", game, "NAME", "the mod a server's gamedir or game must name"),
    NUMBER("--expire", expireSeconds, 1, 86400, "seconds without a heartbeat before a server is dropped"),
    NUMBER("--recheck", recheckSeconds, 1, 86400, "seconds before a heartbeat brings a new status query"),
    NUMBER("--max", maxListed, 1, 100000, "servers published (the browser reads 64)"),
    TEXT("--write", writePath, "PATH", "rewrite this file with the list whenever it changes"),
    TEXT("--state", statePath, "PATH", "keep the list in this file across restarts"),
    TEXT("--ready", readyPath, "PATH", "once listening, write the pid and both ports to this file"),
    {"--allow-private", FLAG_SWITCH, offsetof(MasterOptions, allowPrivate), 0, 0, 0,
     "hear loopback and private addresses too", ""},
    NUMBER("--max-servers", maxServers, 1, 1000000, "verified servers kept in all"),
    NUMBER("--max-candidates", maxCandidates, 1, 1000000, "unverified heartbeats kept at once"),
    NUMBER("--max-per-ip", maxPerIp, 1, 65535, "servers and candidates per source address"),
    NUMBER("--rate-per-ip", ratePerIp, 1, 1000000, "datagrams per second from one address"),
    NUMBER("--burst-per-ip", burstPerIp, 1, 1000000, "datagrams one address may send at once"),
    NUMBER("--max-sources", maxSources, 4, 10000000, "source addresses whose rate is tracked"),
    NUMBER("--verify-rate", verifyRate, 1, 1000000, "status queries per second to new candidates"),
    NUMBER("--http-connections", httpConnections, 1, 100000, "HTTP connections at once"),
    NUMBER("--http-per-ip", httpPerIp, 1, 100000, "HTTP connections at once from one address"),
    NUMBER("--http-timeout", httpTimeout, 1, 3600, "seconds an idle HTTP connection is kept"),
    NUMBER("--cache-seconds", cacheSeconds, 0, 86400, "Cache-Control max-age of servers.txt"),
};
enum { FLAG_COUNT = sizeof FLAGS / sizeof FLAGS[0] };

void DefaultOptions(MasterOptions *options) {
  memset(options, 0, sizeof *options);
  options->udpPort = options->httpPort = 27900;
  snprintf(options->bindAddress, sizeof options->bindAddress, "0.0.0.0");
  snprintf(options->game, sizeof options->game, "varnet");
  options->expireSeconds = 900;  // three heartbeat periods
  options->recheckSeconds = 240;
  options->maxListed = 64;
  options->maxServers = 1024;
  options->maxCandidates = 1024;
  options->maxPerIp = 16;
  options->ratePerIp = 4;
  options->burstPerIp = 40;  // a ping and a heartbeat from each of 16 servers started at once
  options->maxSources = 16384;
  options->verifyRate = 100;
  options->httpConnections = 1024;
  options->httpPerIp = 32;
  options->httpTimeout = 10;
  options->cacheSeconds = 10;
}

static void FormatDefault(const Flag *flag, const MasterOptions *defaults, char *text, size_t size) {
  const char *field = (const char *)defaults + flag->offset;
  if (flag->kind == FLAG_SWITCH) {
    snprintf(text, size, "off");
  } else if (flag->kind == FLAG_TEXT) {
    snprintf(text, size, "%s", *field ? field : "none");
  } else {
    snprintf(text, size, "%d", (int)*(const int32_t *)field);
  }
}

void FormatUsage(char *text, size_t size) {
  MasterOptions defaults;
  DefaultOptions(&defaults);
  size_t length = (size_t)snprintf(text, size, "usage: varnet-master [FLAGS]\n");
  for (int i = 0; i < FLAG_COUNT && length < size; i++) {
    char value[64];
    FormatDefault(&FLAGS[i], &defaults, value, sizeof value);
    char name[40];
    snprintf(name, sizeof name, "%s %s", FLAGS[i].name, FLAGS[i].value);
    length += (size_t)snprintf(text + length, size - length, "  %-22s %s (default %s)\n", name, FLAGS[i].help,
                               value);
  }
}

// A whole decimal number within the flag's range, or "any" for a port.
static bool ReadFlagNumber(const Flag *flag, const char *text, int32_t *value) {
  if (flag->kind == FLAG_PORT && strcmp(text, "any") == 0) {
    *value = flag->min < 0 ? -1 : 0;
    return true;
  }
  if (*text == 0 || strlen(text) > 9) return false;
  int32_t number = 0;
  for (const char *p = text; *p; p++) {
    if (*p < '0' || *p > '9') return false;
    number = number * 10 + (*p - '0');
  }
  if (number < flag->min || number > flag->max) return false;
  *value = number;
  return true;
}

static bool SetFlag(const Flag *flag, const char *text, MasterOptions *options) {
  char *field = (char *)options + flag->offset;
  if (flag->kind == FLAG_TEXT) {
    if (*text == 0 || strlen(text) >= flag->size) return false;
    memcpy(field, text, strlen(text) + 1);
    return true;
  }
  return ReadFlagNumber(flag, text, (int32_t *)field);
}

static const Flag *FindFlag(const char *name) {
  for (int i = 0; i < FLAG_COUNT; i++) {
    if (strcmp(FLAGS[i].name, name) == 0) return &FLAGS[i];
  }
  return NULL;
}

static void RefuseValue(const Flag *flag, const char *value, char *message, size_t messageSize) {
  char wanted[96];
  if (flag->kind == FLAG_TEXT) {
    snprintf(wanted, sizeof wanted, "a text of 1 to %d bytes", (int)flag->size - 1);
  } else {
    snprintf(wanted, sizeof wanted, "a whole number from %d to %d%s", flag->min < 0 ? 0 : (int)flag->min,
             (int)flag->max, flag->kind == FLAG_PORT ? " or any" : "");
  }
  if (value == NULL) {
    snprintf(message, messageSize, "varnet-master: %s needs %s\n", flag->name, wanted);
  } else {
    snprintf(message, messageSize, "varnet-master: %s needs %s, not '%.200s'\n", flag->name, wanted, value);
  }
}

int ParseOptions(int argc, char **argv, MasterOptions *options, char *message, size_t messageSize) {
  DefaultOptions(options);
  message[0] = 0;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      FormatUsage(message, messageSize);
      return 1;
    }
    const Flag *flag = FindFlag(argv[i]);
    if (flag == NULL) {
      snprintf(message, messageSize, "varnet-master: unknown flag '%s' (see --help)\n", argv[i]);
      return 2;
    }
    if (flag->kind == FLAG_SWITCH) {
      *(bool *)((char *)options + flag->offset) = true;
      continue;
    }
    if (i + 1 >= argc || !SetFlag(flag, argv[i + 1], options)) {
      RefuseValue(flag, i + 1 < argc ? argv[i + 1] : NULL, message, messageSize);
      return 2;
    }
    i++;
  }
  return 0;
}
