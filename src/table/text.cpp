// Bounded text copies and the standard decimal reading, without overflow.
#include "table/table.h"

#include <string.h>

void CopyTextN(char *dest, size_t destSize, const char *src, size_t srcLength) {
  if (destSize == 0) return;
  size_t n = 0;
  while (n < srcLength && n + 1 < destSize && src[n] != 0) n++;
  memcpy(dest, src, n);
  dest[n] = 0;
}

void CopyText(char *dest, size_t destSize, const char *src) { CopyTextN(dest, destSize, src, (size_t)-1); }

static bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Skips leading white space and an optional sign, as the standard conversion does.
static const char *SkipToDigits(const char *text, bool *negative) {
  while (IsSpace(*text)) text++;
  *negative = (*text == '-');
  if (*text == '-' || *text == '+') text++;
  return text;
}

// Reads like atoi, but saturates at the int32 limits instead of overflowing.
int32_t ReadInt32(const char *text) {
  bool negative;
  const char *p = SkipToDigits(text, &negative);
  int64_t value = 0;
  for (; IsDigit(*p); p++) {
    value = value * 10 + (*p - '0');
    if (value > (int64_t)INT32_MAX + 1) value = (int64_t)INT32_MAX + 1;  // stays saturated
  }
  if (negative) return (int32_t)-value;
  return value > INT32_MAX ? INT32_MAX : (int32_t)value;
}

// The port is the low 16 bits of the number; unsigned arithmetic wraps by definition, so any
// length of digits gives exactly the value modulo 65536 (and -1 gives 65535).
uint16_t ReadPort(const char *text) {
  bool negative;
  const char *p = SkipToDigits(text, &negative);
  uint32_t value = 0;
  for (; IsDigit(*p); p++) value = value * 10u + (uint32_t)(*p - '0');
  if (negative) value = 0u - value;
  return (uint16_t)(value & 0xFFFFu);
}
