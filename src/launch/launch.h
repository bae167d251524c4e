// Launch texts: connect address, working directory, executable path, command lines and messages. Portable.
#pragma once
#include "settings/settings.h"
#include "table/table.h"

enum {
  CONNECT_SIZE = 128,
  LAUNCH_ADDRESS_MAX = CONNECT_SIZE - 3,  // the longest address that fits ":port" (port 0 to 9)
  COMMAND_LINE_SIZE = 512,
  LAUNCH_TEXT_SIZE = 512,
  SEARCH_STATUS_SIZE = 128,
  SEARCH_QUESTION_SIZE = 512
};

#define SEARCH_CAPTION "Quake II Location"
#define NO_GAME_DIR_STATUS "Couldn't find a Quake II executable!"
#define NO_GAME_DIR_CAPTION "Can't find Quake II"
#define NO_GAME_DIR_TEXT                                                                                     \
  "Unable to find your Quake 2 executable!\n\nYou can't join a server until you have specified "             \
  "where Quake II is on your system.\n\nTry setting the executable name manually in the config "             \
  "if you have a different executable name."
#define STARTING_STATUS "Starting Quake II..."
#define MISSING_EXE_STATUS "Couldn't find Quake II executable! Check your config."
#define MISSING_EXE_CAPTION "Couldn't find Quake II"
#define START_FAILED_STATUS "Couldn't start Quake II! Check your config."
#define START_FAILED_CAPTION "Couldn't start Quake II"
#define BAD_ADDRESS_STATUS "Couldn't start Quake II! Bad server address."
#define GAME_DIR_SETTING "Quake II Directory"
#define GAME_EXE_SETTING "Quake II Executable"

enum SettingFault { NO_SETTING_FAULT, GAME_DIR_FAULT, GAME_EXE_FAULT };

struct LaunchCommand {
  char connect[CONNECT_SIZE];
  char workDir[SETTING_TEXT_SIZE];
  char exePath[SETTING_TEXT_SIZE];
  char commandLine[COMMAND_LINE_SIZE];
  bool useApplicationName;  // false: the command line starts with the quoted executable path
};

// The address comes from a master list or a cache file, and the game runs every '+' command on
// its command line: only a plain host name or IPv4 address (ASCII letters, digits, '.' and '-')
// may go there, and only one that fits the connect text with its port.
bool IsLaunchAddress(const char *address, uint16_t port);

// The address the game's "+connect" gets: the listed one when it is a dotted IPv4 address, else
// the IPv4 address (network byte order) the status query reached. The game ends a '+' command
// at the next '+' or '-', so a host name with a dash would connect elsewhere. Without a reached
// address the listed one stays.
void ChooseConnectAddress(const char *listed, uint32_t reached, char *address, size_t size);

// False, with command cleared to zero bytes, when a text would not fit its limit, the address is
// refused, or a setting holds what would break the command line's arguments apart.
bool BuildLaunchCommand(const char *gameDir, const char *gameExe, int32_t startupMethod, const char *address,
                        uint16_t port, LaunchCommand *command);
// The setting whose text the chosen form can't quote as one argument (methods 1 and 2 quote the
// folder, 2 also the name), if any.
SettingFault LaunchSettingFault(const char *gameDir, const char *gameExe, int32_t startupMethod);
// Why a value can't be one quoted argument of the command line, or NULL when it can.
const char *QuotedValueFault(const char *value);

// The refusal text names gameDir less its last character, a backslash and gameExe, cut to size.
void FormatMissingExeText(char *text, size_t size, const char *gameDir, const char *gameExe);
// The refused setting: its name, its value (control
// characters shown as '?') and the reason, cut to size.
void FormatRefusedSettingText(char *text, size_t size, SettingFault fault, const char *gameDir,
                              const char *gameExe);
// The refused address as the list gave it, its control characters shown as '?', cut to size.
void FormatBadAddressText(char *text, size_t size, const char *address);
// A failed process start: the executable path and the system's own words for the error.
void FormatStartFailureText(char *text, size_t size, const char *exePath, const char *systemText);

// Search texts, cut to size.
void FormatSearchStatus(char *text, size_t size, const char *gameExe, const char *root);
void FormatSearchQuestion(char *text, size_t size, const char *gameExe, const char *dir);

// dir + name + suffix into path (count characters with the terminator); false (path emptied)
// when it would not fit.
bool JoinSearchPath(wchar_t *path, size_t count, const wchar_t *dir, const wchar_t *name,
                    const wchar_t *suffix);
// ASCII letters compared without case, everything else byte for byte.
bool NameMatchesExe(const char *name, const char *gameExe);
bool IsDotEntry(const char *name);
