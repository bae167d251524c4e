// The launch's texts and the search's name and path rules, each bounded by its limit.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

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

// Reads at most LAUNCH_ADDRESS_MAX + 1 characters, so an address that lost its terminator is
// refused, not run past. What passes here also fits the connect text with its port.
bool IsLaunchAddress(const char *address, uint16_t port) {
  size_t length = 0;
  for (; address[length] != 0; length++) {
    if (length == LAUNCH_ADDRESS_MAX || !IsAddressCharacter(address[length])) return false;
  }
  char connect[CONNECT_SIZE];
  return length > 0 && FormatFits(connect, sizeof connect, "%s:%u", address, (unsigned)port);
}

// Four decimal numbers of 0 to 255, three digits at most each, between three dots.
static bool IsDottedQuad(const char *address) {
  const char *at = address;
  for (int part = 0; part < 4; part++) {
    if (part > 0 && *at++ != '.') return false;
    int value = 0, digits = 0;
    for (; *at >= '0' && *at <= '9' && digits < 3; at++, digits++) value = value * 10 + (*at - '0');
    if (digits == 0 || value > 255) return false;
  }
  return *at == 0;
}

void ChooseConnectAddress(const char *listed, uint32_t reached, char *address, size_t size) {
  const unsigned char *bytes = (const unsigned char *)&reached;  // network order: a first
  if (IsDottedQuad(listed) || reached == 0)
    FormatFits(address, size, "%s", listed);
  else
    FormatFits(address, size, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
}

// A quoted value of the command line stays one argument only without a quote, without a
// backslash just before its closing quote (which would escape it) and without a '+', which
// the game would take as the start of a console command. No path holds a control character.
const char *QuotedValueFault(const char *value) {
  size_t length = strlen(value);
  if (EndsWithBackslash(value, length)) return "A backslash too many ends it.";
  for (size_t i = 0; i < length; i++) {
    unsigned char c = (unsigned char)value[i];
    if (c < 0x20 || c == 0x7F) return "It holds a control character.";
    if (c == '"') return "It holds a double quote (\").";
    if (c == '+') return "It holds a '+', which the game reads as the start of a console command.";
  }
  return NULL;
}

// The settings' texts that the chosen form quotes on the command line.
static bool SettingsFitCommandLine(const LaunchCommand *command, int32_t startupMethod) {
  if (startupMethod == 0) return true;
  if (QuotedValueFault(command->workDir) != NULL) return false;
  return command->useApplicationName || QuotedValueFault(command->exePath) == NULL;
}

// The working directory and basedir: gameDir less its last character, the trailing backslash, so
// a drive root C:\ becomes C:, the drive's current directory.
static void FormatWorkDir(char *workDir, size_t size, const char *gameDir) {
  FormatFits(workDir, size, "%.*s", (int)LastCharStart(gameDir, SettingLength(gameDir)), gameDir);
}

static bool FillLaunchCommand(const char *gameDir, const char *gameExe, int32_t startupMethod,
                              const char *address, uint16_t port, LaunchCommand *command) {
  if (!IsLaunchAddress(address, port)) return false;
  size_t dirLength = SettingLength(gameDir);
  if (dirLength == 0 || dirLength >= SETTING_TEXT_SIZE) return false;
  if (SettingLength(gameExe) >= SETTING_TEXT_SIZE) return false;
  FormatFits(command->connect, sizeof command->connect, "%s:%u", address, (unsigned)port);
  FormatWorkDir(command->workDir, sizeof command->workDir, gameDir);
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

// An empty executable name is no fault of its text: the missing file is reported instead.
SettingFault LaunchSettingFault(const char *gameDir, const char *gameExe, int32_t startupMethod) {
  if (startupMethod == 0) return NO_SETTING_FAULT;
  char text[SETTING_TEXT_SIZE];
  FormatWorkDir(text, sizeof text, gameDir);
  if (QuotedValueFault(text) != NULL) return GAME_DIR_FAULT;
  if (startupMethod == 1) return NO_SETTING_FAULT;
  FormatFits(text, sizeof text, "%.*s", (int)SettingLength(gameExe), gameExe);
  return QuotedValueFault(text) != NULL ? GAME_EXE_FAULT : NO_SETTING_FAULT;
}

// Shown, not obeyed: a line break in a hostile text would split the box's lines.
static void CopyShown(char *shown, size_t size, const char *text) {
  size_t n = 0;
  for (; n + 1 < size && text[n] != 0; n++) {
    unsigned char c = (unsigned char)text[n];
    shown[n] = (c < 0x20 || c == 0x7F) ? '?' : (char)c;
  }
  shown[n] = 0;
}

void FormatMissingExeText(char *text, size_t size, const char *gameDir, const char *gameExe) {
  int kept = (int)LastCharStart(gameDir, SettingLength(gameDir));
  FormatFits(text, size, "Error: Couldn't find a Quake II executable:\n    %.*s\\%.*s: File Not Found", kept,
             gameDir, (int)SettingLength(gameExe), gameExe);
}

void FormatRefusedSettingText(char *text, size_t size, SettingFault fault, const char *gameDir,
                              const char *gameExe) {
  bool isDir = fault == GAME_DIR_FAULT;
  const char *setting = isDir ? gameDir : gameExe;
  char value[SETTING_TEXT_SIZE];  // as the command line would quote it
  if (isDir)
    FormatWorkDir(value, sizeof value, gameDir);
  else
    FormatFits(value, sizeof value, "%.*s", (int)SettingLength(gameExe), gameExe);
  const char *reason = QuotedValueFault(value);
  char shown[SETTING_TEXT_SIZE];
  CopyShown(shown, sizeof shown, setting);
  FormatFits(text, size,
             "Error: The %s setting can't be put on the game's command line:\n    %s\n\n%s\n\nChange it "
             "in the config, or clear the \"Alternate Q2 start\" box.",
             isDir ? GAME_DIR_SETTING : GAME_EXE_SETTING, shown, reason == NULL ? "" : reason);
}

void FormatBadAddressText(char *text, size_t size, const char *address) {
  char shown[TEXT_FIELD_SIZE];
  CopyShown(shown, sizeof shown, address);
  FormatFits(text, size,
             "Error: Bad server address:\n    %s\n\nA server address may hold only letters, digits, dots and "
             "dashes, and no more than %d characters with its port.",
             shown, CONNECT_SIZE - 1);
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

bool JoinSearchPath(wchar_t *path, size_t count, const wchar_t *dir, const wchar_t *name,
                    const wchar_t *suffix) {
  if (count == 0) return false;
  int length = swprintf(path, count, L"%ls%ls%ls", dir, name, suffix);
  if (length >= 0 && (size_t)length < count) return true;
  path[0] = 0;
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
