// ReadLine: splits a counted block of text into lines, one per call, never reading past the count.
#include "table/table.h"

#include <stdlib.h>
#include <string.h>

// The caller's (position, remaining) pair is the whole state, so concurrent readers on
// different texts are independent. A line longer than 2047 characters is cut to its first
// 2047; the whole line is still consumed. A final part without a line feed is the last line.
char *ReadLine(char **position, int32_t *remaining) {
  if (*remaining <= 0) return NULL;
  const char *start = *position;
  const char *lineFeed = (const char *)memchr(start, '\n', (size_t)*remaining);
  int32_t lineLength = lineFeed ? (int32_t)(lineFeed - start) : *remaining;
  int32_t consumed = lineFeed ? lineLength + 1 : lineLength;

  char *line = (char *)malloc(LINE_BUFFER_SIZE);
  if (line == NULL) return NULL;
  int32_t kept = lineLength < LINE_BUFFER_SIZE - 1 ? lineLength : LINE_BUFFER_SIZE - 1;
  memcpy(line, start, (size_t)kept);
  line[kept] = 0;  // a NUL inside the line ends the text there

  *position += consumed;
  *remaining -= consumed;
  return line;
}
