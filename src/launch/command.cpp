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
    return FormatFits(line, size,
                      "+set game \"varnet\" +set basedir \"%s\" +connect \"%s\" +exec autoexec.cfg",
                      command->workDir, command->connect);
  if (startupMethod == 0)
    return FormatFits(line, size, "+set game \"varnet\" +connect \"%s\" +exec autoexec.cfg",
                      command->connect);
  return FormatFits(line, size,
                    "\"%s\\%s\" +set game \"varnet\" +set basedir \"%s\" +connect \"%s\" +exec autoexec.cfg",
                    command->workDir, gameExe, command->workDir, command->connect);
}

static bool IsAddressCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

// Reads at most 128 characters, so an address that lost its terminator is refused, not run past.
bool IsLaunchAddress(const char *address) {
  size_t length = 0;
  for (; address[length] != 0; length++) {
    if (length == LAUNCH_ADDRESS_MAX || !IsAddressCharacter(address[length])) return false;
  }
  return length > 0;
}

// A quoted value of the command line stays one argument only without a quote, without a
// backslash just before its closing quote (which would escape it) and without a '+', which
// the game would take as the start of a console command. No path holds a control character.
static bool IsQuotableValue(const char *value) {
  size_t length = strlen(value);
  if (length > 0 && value[length - 1] == '\\') return false;
  for (size_t i = 0; i < length; i++) {
    unsigned char c = (unsigned char)value[i];
    if (c < 0x20 || c == 0x7F || c == '"' || c == '+') return false;
  }
  return true;
}

// The settings' texts that the chosen form quotes on the command line.
static bool SettingsFitCommandLine(const LaunchCommand *command, int32_t startupMethod) {
  if (startupMethod == 0) return true;
  if (!IsQuotableValue(command->workDir)) return false;
  return command->useApplicationName || IsQuotableValue(command->exePath);
}

static bool FillLaunchCommand(const char *gameDir, const char *gameExe, int32_t startupMethod,
                              const char *address, uint16_t port, LaunchCommand *command) {
  if (!IsLaunchAddress(address)) return false;
  size_t dirLength = SettingLength(gameDir);
  if (dirLength == 0 || dirLength >= SETTING_TEXT_SIZE) return false;
  if (SettingLength(gameExe) >= SETTING_TEXT_SIZE) return false;
  if (!FormatFits(command->connect, sizeof command->connect, "%s:%u", address, (unsigned)port)) return false;
  // The trailing backslash goes, so a drive root C:\ becomes C:, the drive's current directory.
  FormatFits(command->workDir, sizeof command->workDir, "%.*s", (int)(dirLength - 1), gameDir);
  if (!FormatFits(command->exePath, sizeof command->exePath, "%s\\%s", command->workDir, gameExe))
    return false;
  command->useApplicationName = (startupMethod == 0 || startupMethod == 1);
  if (!SettingsFitCommandLine(command, startupMethod)) return false;
  return FormatCommandLine(command, gameExe, startupMethod);
}

bool BuildLaunchCommand(const char *gameDir, const char *gameExe, int32_t startupMethod, const char *address,
                        uint16_t port, LaunchCommand *command) {
  memset(command, 0, sizeof *command);
  if (FillLaunchCommand(gameDir, gameExe, startupMethod, address, port, command)) return true;
  memset(command, 0, sizeof *command);  // nothing half-built can be started by mistake
  return false;
}

void FormatMissingExeText(char *text, size_t size, const char *gameDir, const char *gameExe) {
  size_t dirLength = SettingLength(gameDir);
  int kept = dirLength == 0 ? 0 : (int)(dirLength - 1);
  FormatFits(text, size, "Error: Couldn't find a Quake II executable:\n    %.*s\\%.*s: File Not Found", kept,
             gameDir, (int)SettingLength(gameExe), gameExe);
}

void FormatBadAddressText(char *text, size_t size, const char *address) {
  char shown[TEXT_FIELD_SIZE];
  size_t n = 0;
  for (; n + 1 < sizeof shown && address[n] != 0; n++) {
    unsigned char c = (unsigned char)address[n];
    shown[n] = (c < 0x20 || c == 0x7F) ? '?' : (char)c;  // shown, not obeyed: a line break would split it
  }
  shown[n] = 0;
  FormatFits(text, size,
             "Error: Bad server address:\n    %s\n\nA server address may hold only letters, digits, dots and "
             "dashes.",
             shown);
}

void FormatStartFailureText(char *text, size_t size, const char *exePath, const char *systemText) {
  FormatFits(text, size, "Error: Couldn't start the Quake II executable:\n    %s\n\n%s", exePath, systemText);
}

void FormatSearchStatus(char *text, size_t size, const char *gameExe, const char *root) {
  FormatFits(text, size, "Trying to find %s on %s...", gameExe, root);
}

void FormatSearchQuestion(char *text, size_t size, const char *gameExe, const char *dir) {
  FormatFits(text, size, "Kestrel detected a '%s' in:\n    %s\nIs this the one you wish to use?", gameExe,
             dir);
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
