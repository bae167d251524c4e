// The Update button of the program's own main window against the lab's master and servers.
#include <gtest/gtest.h>
#include <winsock2.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <set>
#include <string>

#include "settings/settings.h"
#include "app/app_win.h"
#include "settings/settings_win.h"
#include "ui/ui_win.h"
#include "master/master_win.h"
#include "first_start.h"
#include "lab_log.h"
#include "pump.h"
#include "query/query_win.h"
#include "window_read.h"

namespace {

const char *const COMPLETED = "Completed. 3 of 3 servers responded.";
const DWORD DIALOG_LIMIT_MS = 20000;

DWORD dialogDeadline;

// The dialog runs its own modal loop inside the dispatch of the click; this timer runs in that
// loop and ends a dialog that is still open after the limit, so a failure cannot hang the test.
void CALLBACK EndStuckDialog(HWND, UINT, UINT_PTR, DWORD) {
  if (hwndUpdateDialog != NULL && GetTickCount() > dialogDeadline)
    PostMessageA(hwndUpdateDialog, WM_CLOSE, 0, 0);
}

int CountOf(const std::string &text, const std::string &part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) count++;
  return count;
}

class MasterLab : public ::testing::Test {
 protected:
  // Every test starts from a first start of its own.
  void SetUp() override {
    ASSERT_TRUE(OpenFirstStartWindow("varnet-master-lab"));
    snprintf(masterUrl, sizeof masterUrl, "http://127.0.0.1:%d/servers.txt", LabPort(28200));
  }

  // Clicks the Update button as the user does; the dialog ends by itself on success.
  static void PressUpdate(void) {
    dialogDeadline = GetTickCount() + DIALOG_LIMIT_MS;
    UINT_PTR timer = SetTimer(NULL, 0, 100, EndStuckDialog);
    PostMessageA(GetDlgItem(hwndMain, ID_UPDATE), BM_CLICK, 0, 0);
    // The first round of the pump dispatches the click, and with it the whole modal dialog.
    PumpUntil([] { return hwndUpdateDialog == NULL && !IsUpdateRunning(); }, DIALOG_LIMIT_MS + 5000);
    KillTimer(NULL, timer);
  }
};

TEST_F(MasterLab, UpdateFillsTheListFromTheLabMaster) {
  ASSERT_EQ(0, serverCount);
  PressUpdate();
  ASSERT_EQ(3, serverCount);
  for (int i = 0; i < 3; i++) {
    SCOPED_TRACE(i);
    EXPECT_STREQ("127.0.0.1", records[i].address);
    EXPECT_EQ(LabPort(28201 + i), records[i].port);  // in the master's order
  }
  ASSERT_TRUE(PumpUntil([] { return StatusText(hwndStatusBar, 0) == COMPLETED; }, 15000))
      << StatusText(hwndStatusBar, 0);
  ASSERT_EQ(3, ListCount(hwndServerList));
  std::set<std::string> hosts;
  for (int row = 0; row < 3; row++) hosts.insert(ListText(hwndServerList, row, 0));
  EXPECT_EQ((std::set<std::string>{"Lab Alpha", "Lab Bravo", "Lab Charlie"}), hosts);
  EXPECT_EQ("3 Players", StatusText(hwndStatusBar, 1));
  EXPECT_EQ("3 Servers", StatusText(hwndStatusBar, 2));
}

// Each Update is a new request with the program's user agent and no conditional header.
TEST_F(MasterLab, EveryUpdateReachesTheLabMaster) {
  std::string before = ReadLabLog();
  ASSERT_FALSE(before.empty()) << "the lab's log could not be read";
  const std::string request = "http GET /servers.txt ua=\"Varnet Server Browser\"";
  int earlier = CountOf(before, request);
  ASSERT_TRUE(PumpUntil([] { return !IsPassRunning(); }, 15000));
  PressUpdate();
  ASSERT_TRUE(PumpUntil([] { return StatusText(hwndStatusBar, 0) == COMPLETED; }, 15000));
  PressUpdate();
  ASSERT_TRUE(PumpUntil([] { return StatusText(hwndStatusBar, 0) == COMPLETED; }, 15000));
  std::string after = ReadLabLog();
  EXPECT_EQ(earlier + 2, CountOf(after, request)) << after;
  EXPECT_EQ(CountOf(after, "http GET"), CountOf(after, "if-modified-since=\"\" if-none-match=\"\"")) << after;
  EXPECT_EQ(3, serverCount);  // the second merge replaced the first list
}

}  // namespace
