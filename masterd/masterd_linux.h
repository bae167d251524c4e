// The Linux layer of the master daemon: the UDP loop, the built-in HTTP server and whole-file writes.
#pragma once
#include <stdint.h>

#include "masterd.h"

extern volatile int stopRequested;  // set by SIGINT and SIGTERM

// udp_linux.cpp
int OpenUdpSocket(uint32_t bindIp, int32_t port, uint16_t *boundPort);
void RunUdpLoop(int socketFd);
uint64_t MonotonicMs(void);

// http_linux.cpp
bool StartHttp(uint32_t bindIp, int32_t port, uint16_t *boundPort);
void PublishHttp(const char *body, int32_t length, int64_t wallTime);
void StopHttp(void);

// main_linux.cpp
void PublishList(void);
void LogText(const char *text);
bool WriteFileWhole(const char *path, const char *data, int32_t length);
