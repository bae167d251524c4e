// Launch texts: connect address, working directory, executable path and command lines. Portable.
#pragma once
#include "table/table.h"

enum { CONNECT_SIZE = 128, LAUNCH_PATH_SIZE = 260, COMMAND_LINE_SIZE = 512, LAUNCH_TEXT_SIZE = 512 };

struct LaunchCommand {
  char connect[CONNECT_SIZE];
  char workDir[LAUNCH_PATH_SIZE];
  char exePath[LAUNCH_PATH_SIZE];
  char commandLine[COMMAND_LINE_SIZE];
  bool useApplicationName;  // false: the command line starts with the quoted executable path
};

// False when a text would not fit its limit; the launch is then refused.
bool BuildLaunchCommand(const char *gameDir, const char *gameExe, int32_t startupMethod,
                        const char *address, uint16_t port, LaunchCommand *command);
