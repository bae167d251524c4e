// Fuzz target: the game's command line from any address, port, game folder, executable name and
// startup method. What the launch allows splits into exactly the arguments of its form; what it
// refuses builds nothing.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "fuzz_checks.h"
#include "launch/launch.h"

enum { FIELD_COUNT = 5, MAX_ARGS = 16, ARG_SIZE = COMMAND_LINE_SIZE };

// The input's fields are separated by NUL bytes, which no text field can hold anyway:
// method, port, address, game folder, executable name.
struct Fields {
  const char *start[FIELD_COUNT];
  size_t length[FIELD_COUNT];
};

static void SplitFields(const uint8_t *data, size_t size, Fields *fields) {
  const char *text = (const char *)data;
  size_t offset = 0;
  for (int i = 0; i < FIELD_COUNT; i++) {
    const char *nul = offset < size ? (const char *)memchr(text + offset, 0, size - offset) : NULL;
    size_t end = nul ? (size_t)(nul - text) : size;
    fields->start[i] = text + (offset < size ? offset : size);
    fields->length[i] = end > offset ? end - offset : 0;
    offset = end + 1;
  }
}

// A text field of the program's own size, in an exact-size heap block; a field as long as the
// block leaves it without a terminator, as a hand-edited setting or a corrupt record could.
static char *FieldBuffer(const Fields *fields, int index, size_t size) {
  char *buffer = (char *)malloc(size);
  size_t length = fields->length[index] < size ? fields->length[index] : size;
  memcpy(buffer, fields->start[index], length);
  if (length < size) buffer[length] = 0;
  return buffer;
}

static int32_t FieldNumber(const Fields *fields, int index) {
  char text[32];
  CopyTextN(text, sizeof text, fields->start[index], fields->length[index]);
  return ReadInt32(text);
}

// Arguments as the C runtime splits a command line: blanks separate them outside quotes, a quote
// toggles quoting, 2n backslashes before a quote give n and the quote's own meaning, 2n+1 give n
// and a literal quote. The first argument, the program, runs to the next quote when quoted.
struct Arguments {
  char text[MAX_ARGS][ARG_SIZE];
  int count;
};

static const char *SplitProgram(const char *line, Arguments *args) {
  char *out = args->text[0];
  size_t n = 0;
  if (*line == '"') {
    for (line++; *line != 0 && *line != '"'; line++) out[n++] = *line;
    if (*line == '"') line++;
  } else {
    for (; *line != 0 && *line != ' ' && *line != '\t'; line++) out[n++] = *line;
  }
  out[n] = 0;
  args->count = 1;
  return line;
}

static const char *SplitArgument(const char *line, char *out) {
  size_t n = 0;
  bool quoted = false;
  while (*line != 0 && (quoted || (*line != ' ' && *line != '\t'))) {
    size_t backslashes = 0;
    while (*line == '\\') backslashes++, line++;
    if (*line == '"') {
      for (size_t i = 0; i < backslashes / 2; i++) out[n++] = '\\';
      if (backslashes % 2 == 1)
        out[n++] = '"';
      else if (quoted && line[1] == '"')
        out[n++] = '"', line++;
      else
        quoted = !quoted;
      line++;
      continue;
    }
    for (size_t i = 0; i < backslashes; i++) out[n++] = '\\';
    if (*line != 0 && (quoted || (*line != ' ' && *line != '\t'))) out[n++] = *line++;
  }
  out[n] = 0;
  return line;
}

static void SplitCommandLine(const char *line, bool programFirst, Arguments *args) {
  args->count = 0;
  if (programFirst) line = SplitProgram(line, args);
  for (;;) {
    while (*line == ' ' || *line == '\t') line++;
    if (*line == 0 || args->count == MAX_ARGS) return;
    line = SplitArgument(line, args->text[args->count++]);
  }
}

static int CountChar(const char *text, char c) {
  int count = 0;
  for (; *text != 0; text++) count += (*text == c);
  return count;
}

// The address rule checked on its own: 1 to 127 ASCII letters, digits, dots and dashes.
static bool PlainAddress(const char *address, size_t size, uint16_t port) {
  size_t length = 0;
  for (; length < size && address[length] != 0; length++) {
    char c = address[length];
    bool plain =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
    if (!plain) return false;
  }
  return length >= 1 && length + (port > 9999 ? 6 : port > 999 ? 5 : port > 99 ? 4 : port > 9 ? 3 : 2) <= 127;
}

// The arguments each form must split into, in order; NULL where the form puts a value.
static const char *const FORM_ZERO[] = {"+set", "game", "varnet", "+connect", NULL, "+exec", "autoexec.cfg"};
static const char *const FORM_ONE[] = {"+set", "game",     "varnet", "+set",  "basedir",
                                       NULL,   "+connect", NULL,     "+exec", "autoexec.cfg"};
static const char *const FORM_OTHER[] = {NULL, "+set",     "game", "varnet", "+set",        "basedir",
                                         NULL, "+connect", NULL,   "+exec",  "autoexec.cfg"};

static void CheckArguments(const LaunchCommand *command, int32_t method) {
  const char *const *form = method == 0 ? FORM_ZERO : (method == 1 ? FORM_ONE : FORM_OTHER);
  int count = method == 0 ? 7 : (method == 1 ? 10 : 11);
  Arguments args;
  SplitCommandLine(command->commandLine, method != 0 && method != 1, &args);
  FUZZ_CHECK(args.count == count, "not the form's number of arguments", args.count);
  for (int i = 0; i < count; i++) {
    const char *expected = form[i];
    if (expected == NULL) {
      if (i == 0)
        expected = command->exePath;
      else
        expected = strcmp(form[i - 1], "+connect") == 0 ? command->connect : command->workDir;
    }
    FUZZ_CHECK(strcmp(args.text[i], expected) == 0, "argument differs from the form", i);
  }
  // The game starts a console command at every '+': only the form's own may be there.
  FUZZ_CHECK(CountChar(command->commandLine, '+') == (method == 0 ? 3 : 4), "a value holds a '+'", method);
}

// What the launch built from the inputs: a connect address of the address and the port, one
// quoted argument with no quote in it, and the paths of the folder and the executable name.
static void CheckBuilt(const LaunchCommand *command, const char *address, uint16_t port, const char *dir,
                       const char *exe, int32_t method) {
  FUZZ_CHECK(PlainAddress(address, TEXT_FIELD_SIZE, port), "a refused address was let through", 0);
  char expected[CONNECT_SIZE + 16];
  snprintf(expected, sizeof expected, "%s:%u", address, (unsigned)port);
  FUZZ_CHECK(strcmp(command->connect, expected) == 0, "connect address differs", 0);
  FUZZ_CHECK(strchr(command->connect, '"') == NULL, "quote inside the connect address", 0);
  char quoted[CONNECT_SIZE + 16];
  snprintf(quoted, sizeof quoted, "+connect \"%s\" ", command->connect);
  FUZZ_CHECK(strstr(command->commandLine, quoted) != NULL, "connect address not one quoted argument", 0);
  size_t dirLength = strlen(dir);  // allowed, so terminated within its buffer
  FUZZ_CHECK(dirLength >= 1 && strncmp(command->workDir, dir, dirLength - 1) == 0 &&
                 strlen(command->workDir) == dirLength - 1,
             "working directory is not the folder less its last character", 0);
  char path[SETTING_TEXT_SIZE * 2 + 2];
  snprintf(path, sizeof path, "%s\\%s", command->workDir, exe);
  FUZZ_CHECK(strcmp(command->exePath, path) == 0, "executable path differs", 0);
  FUZZ_CHECK(command->useApplicationName == (method == 0 || method == 1),
             "application name for the wrong form", 0);
  FUZZ_CHECK(strlen(command->commandLine) < COMMAND_LINE_SIZE, "command line too long", 0);
  CheckArguments(command, method);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Fields fields;
  SplitFields(data, size, &fields);
  int32_t method = FieldNumber(&fields, 0);
  uint16_t port = (uint16_t)FieldNumber(&fields, 1);
  char *address = FieldBuffer(&fields, 2, TEXT_FIELD_SIZE);
  char *dir = FieldBuffer(&fields, 3, SETTING_TEXT_SIZE);
  char *exe = FieldBuffer(&fields, 4, SETTING_TEXT_SIZE);

  LaunchCommand command;
  memset(&command, 0x5A, sizeof command);
  if (BuildLaunchCommand(dir, exe, method, address, port, &command)) {
    CheckBuilt(&command, address, port, dir, exe, method);
  } else {
    FUZZ_CHECK(AllZero(&command, sizeof command), "a refused launch left something built", 0);
  }
  FUZZ_CHECK(IsLaunchAddress(address, port) == PlainAddress(address, TEXT_FIELD_SIZE, port),
             "address check wrong", 0);
  free(address);
  free(dir);
  free(exe);
  return 0;
}
