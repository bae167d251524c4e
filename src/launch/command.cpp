// The launch's texts and the search's name and path rules, each bounded by its limit.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "launch/launch.h"

// vsnprintf that says whether the whole text fit; a text that didn't is left cut, not overrun.
static bool FormatFits(char *text, size_t size, const char *format, ...) {
  if (size == 0) return false;
  va_list args;
  va_start(args, format);
  int length = vsnprintf(text, size, format, args);
  va_end(args);
  return length >= 0 && (size_t)length < size;
}

// Length of a setting that may, after a hand edit, lack its terminator inside the buffer.
static size_t SettingLength(const char *setting) {
  const void *end = memchr(setting, 0, SETTING_TEXT_SIZE);
  return end == NULL ? (size_t)SETTING_TEXT_SIZE : (size_t)((const char *)end - setting);
}

static bool FormatCommandLine(LaunchCommand *command, const char *gameExe, int32_t startupMethod) {
  char *line = command->commandLine;
  size_t size = sizeof command->commandLine;
  if (startupMethod == 1)
    return FormatFits(line, size, "+set game \"varnet\" +set basedir \"%s\" +connect \"%s\" +exec autoexec.cfg",
                      command->workDir, command->connect);
  if (startupMethod == 0)
    return FormatFits(line, size, "+set game \"varnet\" +connect \"%s\" +exec autoexec.cfg", command->connect);
  return FormatFits(line, size,
                    "\"%s\\%s\" +set game \"varnet\" +set basedir \"%s\" +connect \"%s\" +exec autoexec.cfg",
                    command->workDir, gameExe, command->workDir, command->connect);
}

bool BuildLaunchCommand(const char *gameDir, const char *gameExe, int32_t startupMethod,
                        const char *address, uint16_t port, LaunchCommand *command) {
  memset(command, 0, sizeof *command);
  size_t dirLength = SettingLength(gameDir);
  if (dirLength == 0 || dirLength >= SETTING_TEXT_SIZE) return false;
  if (SettingLength(gameExe) >= SETTING_TEXT_SIZE) return false;
  if (!FormatFits(command->connect, sizeof command->connect, "%s:%u", address, (unsigned)port))
    return false;
  // The trailing backslash goes, so a drive root C:\ becomes C:, the drive's current directory.
  FormatFits(command->workDir, sizeof command->workDir, "%.*s", (int)(dirLength - 1), gameDir);
  if (!FormatFits(command->exePath, sizeof command->exePath, "%s\\%s", command->workDir, gameExe))
    return false;
  command->useApplicationName = (startupMethod == 0 || startupMethod == 1);
  return FormatCommandLine(command, gameExe, startupMethod);
}

void FormatMissingExeText(char *text, size_t size, const char *gameDir, const char *gameExe) {
  size_t dirLength = SettingLength(gameDir);
  int kept = dirLength == 0 ? 0 : (int)(dirLength - 1);
  FormatFits(text, size, "Error: Couldn't find a Quake II executable:\n    %.*s\\%.*s: File Not Found", kept,
             gameDir, (int)SettingLength(gameExe), gameExe);
}

void FormatStartFailureText(char *text, size_t size, const char *exePath, const char *systemText) {
  FormatFits(text, size, "Error: Couldn't start the Quake II executable:\n    %s\n\n%s", exePath, systemText);
}

void FormatSearchStatus(char *text, size_t size, const char *gameExe, const char *root) {
  FormatFits(text, size, "Trying to find %s on %s...", gameExe, root);
}

void FormatSearchQuestion(char *text, size_t size, const char *gameExe, const char *dir) {
  FormatFits(text, size, "Kestrel detected a '%s' in:\n    %s\nIs this the one you wish to use?", gameExe, dir);
}

bool JoinSearchPath(char *path, size_t size, const char *dir, const char *name, const char *suffix) {
  if (FormatFits(path, size, "%s%s%s", dir, name, suffix)) return true;
  if (size > 0) path[0] = 0;
  return false;
}

static char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

bool NameMatchesExe(const char *name, const char *gameExe) {
  size_t i = 0;
  for (; name[i] != 0 && gameExe[i] != 0; i++)
    if (LowerAscii(name[i]) != LowerAscii(gameExe[i])) return false;
  return name[i] == gameExe[i];
}

bool IsDotEntry(const char *name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }
