// Fuzz target: ReadLine over arbitrary bytes, checked line by line against how lines are cut.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "fuzz_checks.h"
#include "table/table.h"

// A count of 0 or less gives null and leaves the caller's position and count as they were.
static void CheckNothingRemains(char *block, int32_t count) {
  char *position = block;
  int32_t remaining = count;
  char *line = ReadLine(&position, &remaining);
  FUZZ_CHECK(line == NULL, "line returned for a count of 0 or less", (int)count);
  FUZZ_CHECK(position == block && remaining == count, "position or count moved without text", (int)count);
}

// One line, compared with the bytes it came from: up to the first line feed, cut at the first
// NUL or after 2047 characters, and the line feed consumed with it.
static int32_t CheckOneLine(const char *start, int32_t remaining, const char *line, size_t *textTotal) {
  const char *lineFeed = (const char *)memchr(start, '\n', (size_t)remaining);
  int32_t lineLength = lineFeed ? (int32_t)(lineFeed - start) : remaining;
  size_t kept = lineLength < LINE_BUFFER_SIZE - 1 ? (size_t)lineLength : LINE_BUFFER_SIZE - 1;
  const char *nul = (const char *)memchr(start, 0, kept);
  size_t visible = nul ? (size_t)(nul - start) : kept;
  size_t length = strlen(line);  // the sanitizer stops a read past the returned block
  FUZZ_CHECK(length == visible, "line length differs from its bytes", (int)length);
  FUZZ_CHECK(memcmp(line, start, length) == 0, "line text differs from its bytes", (int)length);
  memset((char *)line, 'x', length);  // callers cut lines up in place, so the copy must be writable
  *textTotal += length + (lineFeed ? 1 : 0);
  return lineFeed ? lineLength + 1 : lineLength;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (size_t)INT32_MAX) return 0;
  // An exact-size block of its own, so a read one byte past the count is a heap overflow.
  char *block = (char *)malloc(size > 0 ? size : 1);
  if (block == NULL) return 0;
  memcpy(block, data, size);
  int32_t count = (int32_t)size;
  char *position = block;
  int32_t remaining = count;
  size_t textTotal = 0;  // characters returned plus line feeds consumed
  int32_t lines = 0;
  for (;;) {
    const char *start = position;
    int32_t before = remaining;
    char *line = ReadLine(&position, &remaining);
    if (line == NULL) break;
    FUZZ_CHECK(before > 0, "line returned with nothing remaining", lines);
    int32_t consumed = CheckOneLine(start, before, line, &textTotal);
    free(line);
    FUZZ_CHECK(position == start + consumed, "position did not move past exactly one line", lines);
    FUZZ_CHECK(remaining == before - consumed, "count not lowered by the line consumed", lines);
    lines++;
    FUZZ_CHECK(lines <= count, "more lines than bytes", lines);  // also bounds the loop
  }
  FUZZ_CHECK(remaining == 0 && position == block + count, "input not consumed to its end", (int)remaining);
  FUZZ_CHECK(lines == CountLines(data, size), "line count differs from the line feeds", lines);
  FUZZ_CHECK(textTotal <= size, "lines and line feeds add up to more than the input", (int)textTotal);

  CheckNothingRemains(block, 0);
  CheckNothingRemains(block, -1);
  CheckNothingRemains(block, INT32_MIN);
  CheckNothingRemains(block, -count);
  free(block);
  return 0;
}
