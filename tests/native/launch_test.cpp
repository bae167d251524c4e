// The launch's command lines, refusals at the limits, and the search's texts and name rules.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "launch/launch.h"
#include "settings/settings.h"

namespace {

LaunchCommand Build(const char *dir, const char *exe, int32_t method, const char *address, uint16_t port) {
  LaunchCommand command;
  memset(&command, 0x5A, sizeof command);
  EXPECT_TRUE(BuildLaunchCommand(dir, exe, method, address, port, &command));
  return command;
}

TEST(LaunchCommandLine, ExampleForEachStartupMethod) {
  LaunchCommand zero = Build("C:\\Games\\Quake2\\", "quake2.exe", 0, "10.0.0.5", 910);
  EXPECT_STREQ("10.0.0.5:910", zero.connect);
  EXPECT_STREQ("C:\\Games\\Quake2", zero.workDir);
  EXPECT_STREQ("C:\\Games\\Quake2\\quake2.exe", zero.exePath);
  EXPECT_TRUE(zero.useApplicationName);
  EXPECT_STREQ("+set game \"varnet\" +connect \"10.0.0.5:910\" +exec autoexec.cfg", zero.commandLine);

  LaunchCommand one = Build("C:\\Games\\Quake2\\", "quake2.exe", 1, "10.0.0.5", 910);
  EXPECT_STREQ("C:\\Games\\Quake2\\quake2.exe", one.exePath);
  EXPECT_TRUE(one.useApplicationName);
  EXPECT_STREQ(
      "+set game \"varnet\" +set basedir \"C:\\Games\\Quake2\" +connect \"10.0.0.5:910\" +exec autoexec.cfg",
      one.commandLine);

  const char *third =
      "\"C:\\Games\\Quake2\\quake2.exe\" +set game \"varnet\" +set basedir \"C:\\Games\\Quake2\" "
      "+connect \"10.0.0.5:910\" +exec autoexec.cfg";
  for (int32_t method : {2, 5, -1, 3}) {
    SCOPED_TRACE(method);
    LaunchCommand other = Build("C:\\Games\\Quake2\\", "quake2.exe", method, "10.0.0.5", 910);
    EXPECT_FALSE(other.useApplicationName);
    EXPECT_STREQ(third, other.commandLine);
    EXPECT_STREQ("C:\\Games\\Quake2", other.workDir);
  }
}

TEST(LaunchCommandLine, DriveRootHostNameAndHandEditedDirectory) {
  LaunchCommand root = Build("C:\\", "quake2.exe", 1, "q2.example.net", 27910);
  EXPECT_STREQ("C:", root.workDir);
  EXPECT_STREQ("C:\\quake2.exe", root.exePath);
  EXPECT_STREQ("q2.example.net:27910", root.connect);
  EXPECT_STREQ(
      "+set game \"varnet\" +set basedir \"C:\" +connect \"q2.example.net:27910\" +exec autoexec.cfg",
      root.commandLine);

  LaunchCommand ports = Build("D:\\q2\\", "Q2.EXE", 2, "1.2.3.4", 65535);
  EXPECT_STREQ("1.2.3.4:65535", ports.connect);
  EXPECT_STREQ(
      "\"D:\\q2\\Q2.EXE\" +set game \"varnet\" +set basedir \"D:\\q2\" +connect \"1.2.3.4:65535\" "
      "+exec autoexec.cfg",
      ports.commandLine);
  EXPECT_STREQ("1.2.3.4:0", Build("D:\\q2\\", "q2.exe", 0, "1.2.3.4", 0).connect);

  // Only a hand-edited registry value lacks the backslash; the last character goes all the same.
  LaunchCommand edited = Build("C:\\Games\\Quake2", "quake2.exe", 0, "10.0.0.5", 910);
  EXPECT_STREQ("C:\\Games\\Quake", edited.workDir);
  EXPECT_STREQ("C:\\Games\\Quake\\quake2.exe", edited.exePath);
}

TEST(LaunchCommandLine, TextsAtTheirLimits) {
  LaunchCommand command;
  // Connect address: 127 characters fit, 128 do not.
  std::string host(127 - 6, 'h');
  EXPECT_TRUE(BuildLaunchCommand("C:\\Q\\", "q.exe", 0, host.c_str(), 27910, &command));
  EXPECT_EQ(127u, strlen(command.connect));
  host += "h";  // a bad address with this port, a good one with a shorter port
  EXPECT_FALSE(BuildLaunchCommand("C:\\Q\\", "q.exe", 0, host.c_str(), 27910, &command));
  EXPECT_TRUE(IsLaunchAddress(host.c_str(), 910));

  // Executable path: 259 characters fit, 260 do not.
  std::string dir = "C:\\" + std::string(200, 'd') + "\\";  // working directory of 203 characters
  std::string exe(259 - 204, 'e');
  EXPECT_TRUE(BuildLaunchCommand(dir.c_str(), exe.c_str(), 0, "1.2.3.4", 1, &command));
  EXPECT_EQ(259u, strlen(command.exePath));
  exe += "e";
  EXPECT_FALSE(BuildLaunchCommand(dir.c_str(), exe.c_str(), 0, "1.2.3.4", 1, &command));

  EXPECT_FALSE(BuildLaunchCommand("", "quake2.exe", 0, "1.2.3.4", 1, &command));
  // Settings buffers that lost their terminator are refused, not read past.
  char unterminated[SETTING_TEXT_SIZE + 1];
  memset(unterminated, 'd', SETTING_TEXT_SIZE);
  unterminated[SETTING_TEXT_SIZE] = 0;
  EXPECT_FALSE(BuildLaunchCommand(unterminated, "quake2.exe", 0, "1.2.3.4", 1, &command));
  EXPECT_FALSE(BuildLaunchCommand("C:\\Q\\", unterminated, 0, "1.2.3.4", 1, &command));
}

TEST(LaunchCommandLine, CommandLineOf511FitsAnd512IsRefused) {
  // The third form holds the working directory twice: 2 x 211 + quake2.exe + the connect address
  // and the 69 fixed characters give 511 with a 10-character address, 512 with an 11-character one.
  std::string dir = "C:\\" + std::string(208, 'd') + "\\";
  LaunchCommand command;
  ASSERT_TRUE(BuildLaunchCommand(dir.c_str(), "quake2.exe", 2, "1.2.3.4", 10, &command));
  EXPECT_EQ(211u, strlen(command.workDir));
  EXPECT_EQ(511u, strlen(command.commandLine));
  EXPECT_EQ('"', command.commandLine[0]);
  EXPECT_STREQ(" +exec autoexec.cfg", command.commandLine + 511 - 19);
  EXPECT_FALSE(BuildLaunchCommand(dir.c_str(), "quake2.exe", 2, "1.2.3.4", 100, &command));
  // The shorter forms of the same launch stay well inside the limit.
  EXPECT_TRUE(BuildLaunchCommand(dir.c_str(), "quake2.exe", 1, "1.2.3.4", 100, &command));
}

// Only a host name or an IPv4 address reaches the command line; anything else builds nothing.
TEST(LaunchAddress, OnlyPlainNamesAndNumbersAreAccepted) {
  const std::string longest(125, 'h');  // with ":9", 127
  for (const std::string &good : {std::string("10.0.0.5"), std::string("q2.example-net.ORG"),
                                  std::string("a"), std::string("-.-"), longest}) {
    SCOPED_TRACE(good);
    EXPECT_TRUE(IsLaunchAddress(good.c_str(), 9));
  }
  // clang-format off
  const std::string bad[] = {
      longest + "h",                                 // 128 characters with ":9"
      "",                                            // an empty line of the list
      "127.0.0.1 ",                                  // what the resolver still takes
      "127.0.0.1 \" +exec evil.cfg +set x \"",       // the list's own line, cut at its colon
      "q2\"host", "a+b", "a:b", "a/b", "a\\b", "a_b",  // neighbours of the allowed characters
      "10.0.0.5\r", "10.0.0.5\n+exec x", "\t10.0.0.5", "a\x7F",  // control characters
      "caf\xC3\xA9.example", "\xFF",                // bytes outside ASCII
  };
  // clang-format on
  LaunchCommand command;
  for (const std::string &address : bad) {
    SCOPED_TRACE(address);
    EXPECT_FALSE(IsLaunchAddress(address.c_str(), 9));
    memset(&command, 0x5A, sizeof command);
    EXPECT_FALSE(BuildLaunchCommand("C:\\Q\\", "quake2.exe", 0, address.c_str(), 9, &command));
    EXPECT_EQ(std::string(sizeof command, '\0'), std::string((const char *)&command, sizeof command));
  }
  // An address whose terminator is lost beyond the 128th character is refused, not read past.
  char unterminated[LAUNCH_ADDRESS_MAX + 1];
  memset(unterminated, 'h', sizeof unterminated);
  EXPECT_FALSE(IsLaunchAddress(unterminated, 0));
  EXPECT_FALSE(IsLaunchAddress(std::string(122, 'h').c_str(), 65535));  // 128 with ":65535"

  // A host name connects by the address its query reached: the game would end "+connect" at a dash.
  char connect[CONNECT_SIZE];
  const uint8_t reached[4] = {10, 0, 0, 7};
  uint32_t address;
  memcpy(&address, reached, 4);
  ChooseConnectAddress("q2-dm.example.net", address, connect, sizeof connect);
  EXPECT_STREQ("10.0.0.7", connect);
  for (const char *kept : {"192.168.1.20", "q2-dm.example.net"}) {  // dotted already; or never reached
    ChooseConnectAddress(kept, kept[0] == '1' ? address : 0, connect, sizeof connect);
    EXPECT_STREQ(kept, connect);
  }
  ChooseConnectAddress("10.0.0.256", address, connect, sizeof connect);  // no dotted address
  EXPECT_STREQ("10.0.0.7", connect);

  // The refusal names the address as the list gave it, its control characters as question marks.
  char text[LAUNCH_TEXT_SIZE];
  FormatBadAddressText(text, sizeof text, "127.0.0.1 \" +exec evil.cfg\r\n\t+set x \x7F\xE9\"");
  EXPECT_STREQ(
      "Error: Bad server address:\n    127.0.0.1 \" +exec evil.cfg???+set x ?\xE9\"\n\n"
      "A server address may hold only letters, digits, dots and dashes, and no more than 127 characters "
      "with its port.",
      text);
  std::string longest255(255, '+');
  FormatBadAddressText(text, sizeof text, longest255.c_str());
  EXPECT_NE(nullptr, strstr(text, longest255.c_str()));
}

TEST(LaunchMessages, MissingExecutableAndFailedStart) {
  char text[LAUNCH_TEXT_SIZE];
  FormatMissingExeText(text, sizeof text, "C:\\Games\\Quake2\\", "quake2.exe");
  EXPECT_STREQ(
      "Error: Couldn't find a Quake II executable:\n    C:\\Games\\Quake2\\quake2.exe: File Not Found", text);
  FormatMissingExeText(text, sizeof text, "D:\\", "q2.exe");
  EXPECT_STREQ("Error: Couldn't find a Quake II executable:\n    D:\\q2.exe: File Not Found", text);

  std::string longDir = "C:\\" + std::string(255, 'd') + "\\";
  std::string longExe(259, 'e');
  FormatMissingExeText(text, sizeof text, longDir.c_str(), longExe.c_str());
  EXPECT_EQ(511u, strlen(text));
  EXPECT_EQ(0, strncmp(text, "Error: Couldn't find a Quake II executable:\n    C:\\ddd", 53));

  FormatStartFailureText(text, sizeof text, "C:\\Q\\quake2.exe", "Bad format.");
  EXPECT_NE(nullptr, strstr(text, "C:\\Q\\quake2.exe"));
  EXPECT_NE(nullptr, strstr(text, "Bad format."));
}

TEST(SearchTexts, StatusAndQuestionAndTheirCuts) {
  char status[SEARCH_STATUS_SIZE];
  FormatSearchStatus(status, sizeof status, "quake2.exe", "C:\\");
  EXPECT_STREQ("Trying to find quake2.exe on C:\\...", status);
  std::string longExe(200, 'x');
  FormatSearchStatus(status, sizeof status, longExe.c_str(), "C:\\");
  EXPECT_EQ(127u, strlen(status));
  EXPECT_EQ(0, strncmp(status, "Trying to find xxx", 18));

  char question[SEARCH_QUESTION_SIZE];
  FormatSearchQuestion(question, sizeof question, "quake2.exe", "C:\\Games\\Quake2\\");
  EXPECT_STREQ(
      "Kestrel detected a 'quake2.exe' in:\n    C:\\Games\\Quake2\\\nIs this the one you wish to use?",
      question);
  std::string longDir = "C:\\" + std::string(255, 'd') + "\\";
  std::string exe(259, 'e');
  FormatSearchQuestion(question, sizeof question, exe.c_str(), longDir.c_str());
  EXPECT_EQ(511u, strlen(question));
}

TEST(SearchRules, PathsThatDoNotFitAreRefused) {
  wchar_t path[SETTING_TEXT_SIZE];
  std::wstring dir = L"C:\\" + std::wstring(250, L'\x434') + L"\\";  // 254 characters
  EXPECT_TRUE(JoinSearchPath(path, SETTING_TEXT_SIZE, dir.c_str(), L"*", L""));
  EXPECT_EQ(dir + L"*", path);
  EXPECT_TRUE(JoinSearchPath(path, SETTING_TEXT_SIZE, dir.c_str(), L"abcd", L"\\"));  // 259
  EXPECT_EQ(259u, wcslen(path));
  EXPECT_FALSE(JoinSearchPath(path, SETTING_TEXT_SIZE, dir.c_str(), L"abcde", L"\\"));  // 260
  EXPECT_STREQ(L"", path);
  EXPECT_FALSE(JoinSearchPath(path, SETTING_TEXT_SIZE, dir.c_str(), L"abcdef", L""));
}

TEST(SearchRules, NamesMatchWithoutCase) {
  EXPECT_TRUE(NameMatchesExe("QUAKE2.EXE", "quake2.exe"));
  EXPECT_TRUE(NameMatchesExe("Quake2.Exe", "quake2.exe"));
  EXPECT_TRUE(NameMatchesExe("quake2.exe", "QUAKE2.exe"));
  EXPECT_FALSE(NameMatchesExe("quake2.exe.bak", "quake2.exe"));
  EXPECT_FALSE(NameMatchesExe("quake2.ex", "quake2.exe"));
  EXPECT_FALSE(NameMatchesExe("quake3.exe", "quake2.exe"));
  EXPECT_FALSE(NameMatchesExe("quake2.exe", "Quake2\\quake2.exe"));
  EXPECT_FALSE(NameMatchesExe("quake2.exe", ""));
  EXPECT_FALSE(NameMatchesExe("\xC4.exe", "\xE4.exe"));  // only ASCII letters fold
  EXPECT_TRUE(NameMatchesExe("[@]_.EXE", "[@]_.exe"));   // neighbours of the letters stay as they are
  EXPECT_FALSE(NameMatchesExe("[.exe", "{.exe"));

  EXPECT_TRUE(IsDotEntry("."));
  EXPECT_TRUE(IsDotEntry(".."));
  EXPECT_FALSE(IsDotEntry("..."));
  EXPECT_FALSE(IsDotEntry(".git"));
}

// Code page 932, whose Kanji U+8868 is \x95\x5C: its last byte is no backslash.
TEST(LaunchCodePage932, TheLastCharacterNotTheLastByte) {
  for (int byte = 0x81; byte <= 0xFC; byte++) ansiLeadBytes[byte] = byte <= 0x9F || byte >= 0xE0;
  const std::string game = "C:\\\x83\x51\x81\x5B\x83\x80\\\x95\x5C", exe = "\\quake2.exe";  // C:\Kana\Kanji
  for (int32_t method : {1, 2})
    EXPECT_STREQ((game + exe).c_str(),
                 Build((game + "\\").c_str(), "quake2.exe", method, "10.0.0.5", 9).exePath);
  EXPECT_STREQ("C:\\\x83\x51\x81\x5B\x83\x80\\", Build(game.c_str(), "q2.exe", 0, "10.0.0.5", 910).workDir);
  char dir[SETTING_TEXT_SIZE];
  for (const std::string &typed : {game, std::string(257, 'd') + "\x95\x5C"}) {  // the second fills 259 bytes
    snprintf(dir, sizeof dir, "%s", typed.c_str());
    EndWithBackslash(dir, sizeof dir);
    EXPECT_EQ(typed.size() < 259 ? typed + "\\" : std::string(257, 'd') + "\\", dir);
  }
  memset(ansiLeadBytes, 0, sizeof ansiLeadBytes);
}

TEST(LaunchRefusal, NamesTheSettingAndTheReason) {
  EXPECT_EQ(GAME_DIR_FAULT, LaunchSettingFault("C:\\Q2+ctf\\", "quake2.exe", 1));
  EXPECT_EQ(NO_SETTING_FAULT, LaunchSettingFault("C:\\Q2+ctf\\", "quake2.exe", 0));
  EXPECT_EQ(GAME_EXE_FAULT, LaunchSettingFault("C:\\Q2\\", "q\"2.exe", 2));
  EXPECT_EQ(NO_SETTING_FAULT, LaunchSettingFault("C:\\Q2\\", "", 2));  // a missing file, reported as such
  char text[LAUNCH_TEXT_SIZE];
  FormatRefusedSettingText(text, sizeof text, GAME_DIR_FAULT, "C:\\Q2\\\\", "");
  EXPECT_STREQ(
      "Error: The Quake II Directory setting can't be put on the game's command line:\n    C:\\Q2\\\\\n\n"
      "A backslash too many ends it.\n\nChange it in the config, or clear the \"Alternate Q2 start\" box.",
      text);
}

}  // namespace
