// The depth-first walk of one directory tree: questions, their order and answers, names and path limits.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "settings/settings.h"
#include "app/app_win.h"
#include "settings/settings_win.h"
#include "ui/ui_win.h"
#include "launch/launch.h"
#include "launch/launch_win.h"
#include "launch_support.h"

namespace {

std::string Question(const std::string &exe, const std::string &dir) {
  return "Kestrel detected a '" + exe + "' in:\n    " + dir + "\nIs this the one you wish to use?";
}

class SearchWalk : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(CreateLaunchWindows()); }

  void SetUp() override {
    ResetLaunchWindows();
    root = MakeLaunchTempDir("search-walk");
    ASSERT_FALSE(root.empty());
    gameDir[0] = 0;
    CopyText(gameExe, sizeof gameExe, "quake2.exe");
  }

  void TearDown() override { RemoveLaunchTree(root); }

  void Put(const std::string &relative) {
    size_t slash = relative.rfind('\\');
    if (slash != std::string::npos) {
      ASSERT_TRUE(MakeLaunchDirs(root + relative.substr(0, slash + 1)));
    }
    ASSERT_TRUE(WriteLaunchFile(root + relative, "stand-in"));
  }

  // Walks dir answering the questions in turn; the questions' directories come back in order.
  std::vector<std::string> Walk(const std::string &dir, const std::vector<int> &answers, bool *accepted) {
    memset(found, '#', sizeof found);
    found[sizeof found - 1] = 0;
    StartLaunchBoxWatcher(answers);
    *accepted = SearchGameDir(dir.c_str(), found, sizeof found);
    boxes = StopLaunchBoxWatcher();
    std::vector<std::string> dirs;
    for (const LaunchBox &box : boxes) {
      size_t from = box.text.find("in:\n    ");
      size_t to = box.text.find("\nIs this");
      if (from == std::string::npos || to == std::string::npos)
        dirs.push_back("<" + box.text + ">");
      else
        dirs.push_back(box.text.substr(from + 8, to - from - 8));
    }
    return dirs;
  }

  std::string root;
  char found[SETTING_TEXT_SIZE];
  std::vector<LaunchBox> boxes;
};

TEST_F(SearchWalk, AsksInTheSettingsSpellingAndYesGivesTheDirectory) {
  Put("Games\\Quake2\\QUAKE2.EXE");
  bool accepted = false;
  std::vector<std::string> dirs = Walk(root, {IDYES}, &accepted);

  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ("Quake II Location", boxes[0].caption);
  EXPECT_EQ(Question("quake2.exe", root + "Games\\Quake2\\"), boxes[0].text);
  EXPECT_TRUE(boxes[0].yesNo);
  EXPECT_TRUE(boxes[0].questionIcon);
  EXPECT_EQ(hwndMain, boxes[0].owner);
  EXPECT_TRUE(accepted);
  EXPECT_EQ(root + "Games\\Quake2\\", found);
  EXPECT_EQ('\0', gameDir[0]);  // the walk itself leaves the setting alone
}

TEST_F(SearchWalk, DepthFirstInListingOrderAndNoGoesOn) {
  // A subdirectory is walked the moment it is met; a directory bearing the name is walked, not offered.
  Put("a\\deep\\quake2.exe");
  Put("Quake2.Exe");
  Put("b\\quake2.exe");
  Put("c\\quake2.exe\\quake2.exe");
  Put("c\\other.exe");
  std::vector<std::string> expected;
  for (const std::string &name : ListLaunchNames(root)) {
    if (name == "a") expected.push_back(root + "a\\deep\\");
    if (name == "Quake2.Exe") expected.push_back(root);
    if (name == "b") expected.push_back(root + "b\\");
    if (name == "c") expected.push_back(root + "c\\quake2.exe\\");
  }
  ASSERT_EQ(4u, expected.size());

  bool accepted = true;
  EXPECT_EQ(expected, Walk(root, {IDNO, IDNO, IDNO, IDNO}, &accepted));
  EXPECT_FALSE(accepted);
  EXPECT_EQ('#', found[0]);  // nothing written when nothing was accepted

  // The same walk with Yes at the third question stops there.
  EXPECT_EQ(std::vector<std::string>(expected.begin(), expected.begin() + 3),
            Walk(root, {IDNO, IDNO, IDYES}, &accepted));
  EXPECT_TRUE(accepted);
  EXPECT_EQ(expected[2], found);
}

TEST_F(SearchWalk, TwoCopiesInOneTreeComeInListingOrder) {
  Put("first\\quake2.exe");
  Put("second\\quake2.exe");
  std::vector<std::string> order;
  for (const std::string &name : ListLaunchNames(root))
    if (name == "first" || name == "second") order.push_back(root + name + "\\");
  ASSERT_EQ(2u, order.size());

  bool accepted = false;
  EXPECT_EQ(order, Walk(root, {IDNO, IDYES}, &accepted));
  EXPECT_TRUE(accepted);
  EXPECT_EQ(order[1], found);
}

TEST_F(SearchWalk, NameWithABackslashNeverMatches) {
  Put("Games\\Quake2\\quake2.exe");
  CopyText(gameExe, sizeof gameExe, "Quake2\\quake2.exe");
  bool accepted = true;
  EXPECT_TRUE(Walk(root, {IDYES}, &accepted).empty());
  EXPECT_FALSE(accepted);
  CopyText(gameExe, sizeof gameExe, "Games\\Quake2\\quake2.exe");
  EXPECT_TRUE(Walk(root, {IDYES}, &accepted).empty());
  EXPECT_FALSE(accepted);
}

TEST_F(SearchWalk, DirectoryThatCannotBeListedIsEmpty) {
  bool accepted = true;
  EXPECT_TRUE(Walk(root + "missing\\", {IDYES}, &accepted).empty());
  EXPECT_FALSE(accepted);
}

// A directory below root whose full path, with its backslash, is exactly `length` characters.
std::string DirOfLength(const std::string &root, size_t length, const char *tag) {
  std::string dir = root + tag + "\\";
  while (dir.size() < length) {
    size_t part = length - dir.size() - 1;  // characters left for a name before its backslash
    if (part > 100) part = 100;
    if (part == 0) part = 1;  // cannot happen with the lengths used here
    dir += std::string(part, 'p') + "\\";
  }
  return dir;
}

TEST_F(SearchWalk, EntriesWhosePathsWouldNotFitAreSkipped) {
  // quake2.exe adds 10 characters: a 249-character directory gives a 259-character path, which fits.
  std::string fits = DirOfLength(root, 249, "fits");
  std::string tooLong = DirOfLength(root, 250, "long");
  std::string deeper = tooLong + "deeper\\";  // listed (its pattern fits), but no file path in it does
  ASSERT_EQ(249u, fits.size());
  ASSERT_EQ(250u, tooLong.size());
  Put(fits.substr(root.size()) + "quake2.exe");
  Put(tooLong.substr(root.size()) + "quake2.exe");
  Put(deeper.substr(root.size()) + "quake2.exe");
  std::string beyond = DirOfLength(root, 300, "beyond");  // its lower directories pass the limit themselves
  Put(beyond.substr(root.size()) + "quake2.exe");
  ASSERT_TRUE(LaunchPathExists(beyond + "quake2.exe"));

  bool accepted = true;
  EXPECT_EQ(std::vector<std::string>{fits}, Walk(root, {}, &accepted));
  EXPECT_FALSE(accepted);
}

}  // namespace
