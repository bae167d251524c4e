// ReadLine: line splitting strictly by count.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "table/table.h"

namespace {

// Reads the next line as a std::string, or "<null>" when nothing remains.
std::string Next(char **position, int32_t *remaining) {
  char *line = ReadLine(position, remaining);
  if (line == NULL) return "<null>";
  std::string text = line;
  free(line);
  return text;
}

TEST(ReadLine, TwoLines) {
  char text[] = "ab\ncd\n";
  char *p = text;
  int32_t n = 6;
  EXPECT_EQ("ab", Next(&p, &n));
  EXPECT_EQ(text + 3, p);
  EXPECT_EQ(3, n);
  EXPECT_EQ("cd", Next(&p, &n));
  EXPECT_EQ(0, n);
  EXPECT_EQ("<null>", Next(&p, &n));
  EXPECT_EQ(0, n);
}

TEST(ReadLine, EmptyLinesAreNotEndOfText) {
  char text[] = "\n\n";
  char *p = text;
  int32_t n = 2;
  EXPECT_EQ("", Next(&p, &n));
  EXPECT_EQ(1, n);
  EXPECT_EQ("", Next(&p, &n));
  EXPECT_EQ("<null>", Next(&p, &n));
}

TEST(ReadLine, CarriageReturnStaysAndHighBytesAreCopied) {
  char text[] = "abc\r\n\xff\xff\xff\xffprint\n";
  char *p = text;
  int32_t n = (int32_t)strlen(text);
  EXPECT_EQ("abc\r", Next(&p, &n));
  EXPECT_EQ("\xff\xff\xff\xffprint", Next(&p, &n));
}

TEST(ReadLine, ZeroOrNegativeCountChangesNothing) {
  char text[] = "ab\n";
  for (int32_t count : {0, -1, -100}) {
    SCOPED_TRACE(count);
    char *p = text;
    int32_t n = count;
    EXPECT_EQ(NULL, ReadLine(&p, &n));
    EXPECT_EQ(text, p);
    EXPECT_EQ(count, n);
  }
}

TEST(ReadLine, NulInsideLineEndsTheTextButNotTheLine) {
  char text[] = {'a', 0, 'b', '\n', 'c', '\n'};
  char *p = text;
  int32_t n = 6;
  EXPECT_EQ("a", Next(&p, &n));
  EXPECT_EQ("c", Next(&p, &n));
}

TEST(ReadLine, LongestLineComesBackWhole) {
  std::string line(2047, 'x');
  std::string text = line + "\nnext\n";
  char *p = &text[0];
  int32_t n = (int32_t)text.size();
  EXPECT_EQ(line, Next(&p, &n));
  EXPECT_EQ("next", Next(&p, &n));
}

TEST(ReadLine, OverlongLineIsCutAndConsumedWhole) {
  std::string text = std::string(5000, 'y') + "\nnext\n";
  char *p = &text[0];
  int32_t n = (int32_t)text.size();
  EXPECT_EQ(std::string(2047, 'y'), Next(&p, &n));
  EXPECT_EQ(5, n);  // "next\n"
  EXPECT_EQ("next", Next(&p, &n));
}

TEST(ReadLine, FinalPartWithoutLineFeedIsTheLastLine) {
  char text[] = "one\ntwo";
  char *p = text;
  int32_t n = 7;
  EXPECT_EQ("one", Next(&p, &n));
  EXPECT_EQ("two", Next(&p, &n));
  EXPECT_EQ(text + 7, p);
  EXPECT_EQ(0, n);
  EXPECT_EQ("<null>", Next(&p, &n));
}

TEST(ReadLine, NeverReadsPastTheCount) {
  // The block is a heap copy of exactly count bytes, so any read beyond it is caught by
  // sanitizers and guard pages; the line feed after the count must not be seen.
  const char source[] = "abcdef\nghi";
  char *block = (char *)malloc(4);
  memcpy(block, source, 4);
  char *p = block;
  int32_t n = 4;
  EXPECT_EQ("abcd", Next(&p, &n));
  EXPECT_EQ(0, n);
  free(block);

  char text[] = "ab\ncd\nef";
  p = text;
  n = 4;  // "ab\nc"
  EXPECT_EQ("ab", Next(&p, &n));
  EXPECT_EQ("c", Next(&p, &n));
  EXPECT_EQ("<null>", Next(&p, &n));
}

}  // namespace
