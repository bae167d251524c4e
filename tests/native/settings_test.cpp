// The game directory's trailing backslash, kept within its 260-byte setting.
#include <gtest/gtest.h>
#include <string.h>
#include <wchar.h>

#include <string>

#include "settings/settings.h"

namespace {

std::string Ended(const std::string &text) {
  char dir[SETTING_TEXT_SIZE];
  memset(dir, 0x7F, sizeof dir);
  snprintf(dir, sizeof dir, "%s", text.c_str());
  EndWithBackslash(dir, sizeof dir);
  EXPECT_NE(nullptr, memchr(dir, 0, sizeof dir));
  return std::string(dir, strnlen(dir, sizeof dir));
}

TEST(GameDirBackslash, AddedOnceWhenMissing) {
  EXPECT_EQ("C:\\Games\\Quake2\\", Ended("C:\\Games\\Quake2"));
  EXPECT_EQ("C:\\Games\\Quake2\\", Ended("C:\\Games\\Quake2\\"));
  EXPECT_EQ("", Ended(""));
  EXPECT_EQ("D:\\", Ended("D:"));
  EXPECT_EQ("C:\\a\\\\", Ended("C:\\a\\\\"));  // no other change is made
}

TEST(GameDirBackslash, FitsAtTheLongestEntries) {
  std::string d258(258, 'd');
  EXPECT_EQ(d258 + "\\", Ended(d258));  // 259 characters: just fits

  std::string d259(259, 'd');
  std::string got = Ended(d259);  // no room for one more: the last character gives way
  EXPECT_EQ(259u, got.size());
  EXPECT_EQ(d258 + "\\", got);

  std::string done(258, 'd');
  done += "\\";
  EXPECT_EQ(done, Ended(done));
}

TEST(GameDirBackslash, UnterminatedBufferEndsTerminated) {
  char dir[SETTING_TEXT_SIZE];
  memset(dir, 'x', sizeof dir);
  EndWithBackslash(dir, sizeof dir);
  EXPECT_EQ(259u, strnlen(dir, sizeof dir));
  EXPECT_EQ('\\', dir[258]);
}

TEST(GameDirTyped, OnePairOfQuotesAndTheSpacesAroundGo) {
  wchar_t pasted[] = L"  \"C:\\Q 2\\\" ", twice[] = L"\"\"a\"\"", lone[] = L" \" ";
  TrimTypedPath(pasted);
  TrimTypedPath(twice);
  TrimTypedPath(lone);
  EXPECT_STREQ(L"C:\\Q 2\\", pasted);
  EXPECT_STREQ(L"\"a\"", twice);
  EXPECT_STREQ(L"\"", lone);
}

}  // namespace
