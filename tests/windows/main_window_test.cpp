// The real main window in-process: layout, start-up texts, rows after a pass against the lab,
// sorting, the player list, and real mouse and keyboard input.
#include <gtest/gtest.h>
#include <winsock2.h>

#include <string.h>

#include <string>
#include <vector>

#include "settings/settings.h"
#include "app/app_win.h"
#include "settings/settings_win.h"
#include "ui/ui_win.h"
#include "first_start.h"
#include "lab_log.h"
#include "pump.h"
#include "query/query_win.h"
#include "ui/ui.h"
#include "window_read.h"

namespace {

const char *const HINT = FIRST_START_HINT;

// The lab config beside this file serves these: Alpha ~20 ms, Bravo ~200 ms, charlie ~350 ms,
// and a silent server that never answers.
enum { ALPHA = 28101, BRAVO, CHARLIE, SILENT };

// Every test gets a main window of its own, fresh from its first start (no cache file, so the
// table is empty and the status bar shows the hint); a test that needs rows runs its own pass.
class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(OpenFirstStartWindow("varnet-main-window")); }

  // The completing thread writes the text first and gives the pass back after its last write.
  static bool PassCompleted() {
    return StatusText(hwndStatusBar, 0).rfind("Completed.", 0) == 0 && !IsPassRunning();
  }

  static void RunPass() {
    SendMessageA(hwndMain, WM_COMMAND, ID_REFRESH, 0);
    ASSERT_TRUE(PumpUntil(PassCompleted, 20000)) << StatusText(hwndStatusBar, 0);
  }

  static std::vector<std::string> Column(HWND list, int column) {
    std::vector<std::string> texts;
    for (int i = 0; i < ListCount(list); i++) texts.push_back(ListText(list, i, column));
    return texts;
  }

  static void SeedLabServers(bool withSilent) {
    serverCount = 0;
    AppendServer("127.0.0.1", LabPort(ALPHA));
    if (withSilent) AppendServer("127.0.0.1", LabPort(SILENT));
    AppendServer("127.0.0.1", LabPort(CHARLIE));
    AppendServer("127.0.0.1", LabPort(BRAVO));
  }

  // The three answering servers after a pass, sorted by ping: Alpha, Bravo Base, charlie. The
  // silent one is left out, as it would hold the pass for its three attempts.
  static void ShowAnsweringRows() {
    SeedLabServers(false);
    RunPass();
    ASSERT_EQ((std::vector<std::string>{"Alpha", "Bravo Base", "charlie"}), Column(hwndServerList, 0));
  }
};

void ExpectChild(int id, const char *cls, const char *text, DWORD style, RECT expected) {
  SCOPED_TRACE(id);
  HWND child = GetDlgItem(hwndMain, id);
  ASSERT_NE(nullptr, child);
  EXPECT_STREQ(cls, ClassName(child).c_str());
  EXPECT_EQ(text, WindowText(child));
  EXPECT_EQ(style, (DWORD)GetWindowLongA(child, GWL_STYLE) & ~(DWORD)WS_CLIPSIBLINGS);
  RECT r = ChildRect(child);
  EXPECT_EQ(expected.left, r.left);
  EXPECT_EQ(expected.top, r.top);
  EXPECT_EQ(expected.right, r.right);
  EXPECT_EQ(expected.bottom, r.bottom);
}

TEST_F(MainWindow, FixedSizeWindowThatCannotBeResized) {
  RECT window, client;
  GetWindowRect(hwndMain, &window);
  GetClientRect(hwndMain, &client);
  EXPECT_EQ(560, window.right - window.left);
  EXPECT_EQ(400, window.bottom - window.top);
  EXPECT_EQ(554, client.right);  // what Wine gives a 560 x 400 captioned window
  EXPECT_EQ(375, client.bottom);
  LONG style = GetWindowLongA(hwndMain, GWL_STYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_TRUE(IsWindowVisible(hwndMain));
  EXPECT_STREQ("Varnet Server Browser", WindowText(hwndMain).c_str());
}

TEST_F(MainWindow, ChildrenStandWhereTheLayoutPutsThem) {
  const DWORD list = WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SHAREIMAGELISTS;
  const DWORD button = WS_CHILD | WS_VISIBLE;
  ExpectChild(143, "SysListView32", "", list, RECT{0, 0, 554, 187});
  ExpectChild(144, "SysListView32", "", list, RECT{0, 189, 464, 354});
  ExpectChild(142, "Button", "Update", button, RECT{470, 201, 548, 225});
  ExpectChild(161, "Button", "Config", button, RECT{470, 241, 548, 265});
  ExpectChild(141, "Button", "Refresh", button | WS_DISABLED, RECT{470, 281, 548, 305});
  ExpectChild(140, "Button", "Exit", button, RECT{470, 321, 548, 345});
  EXPECT_EQ(hwndServerList, GetDlgItem(hwndMain, 143));
  EXPECT_EQ(hwndPlayerList, GetDlgItem(hwndMain, 144));
  EXPECT_EQ(hwndRefreshButton, GetDlgItem(hwndMain, 141));
  EXPECT_EQ(0, GetDlgCtrlID(hwndStatusBar));
  EXPECT_STREQ("msctls_statusbar32", ClassName(hwndStatusBar).c_str());
  RECT bar = ChildRect(hwndStatusBar);
  EXPECT_EQ(375, bar.bottom);  // the bar places itself along the bottom
  for (HWND l : {hwndServerList, hwndPlayerList}) {
    LRESULT ex = SendMessageA(l, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
    EXPECT_EQ(LVS_EX_SUBITEMIMAGES | LVS_EX_FULLROWSELECT, ex);
    EXPECT_NE(0, SendMessageA(l, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
  }
}

TEST_F(MainWindow, ColumnsStatusPartsAndStartTexts) {
  const char *serverHeaders[] = {"Host Name", "Address", "Map", "Players", "Ping"};
  const int serverWidths[] = {188, 107, 107, 69, 64};
  for (int i = 0; i < 5; i++) {
    char text[64] = "";
    LVCOLUMNA c = {};
    c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    c.pszText = text;
    c.cchTextMax = sizeof text;
    ASSERT_TRUE(SendMessageA(hwndServerList, LVM_GETCOLUMNA, i, (LPARAM)&c));
    EXPECT_STREQ(serverHeaders[i], text);
    EXPECT_EQ(serverWidths[i], c.cx);
    EXPECT_EQ(LVCFMT_LEFT, c.fmt & LVCFMT_JUSTIFYMASK);
  }
  const char *playerHeaders[] = {"Name", "Score", "Ping"};
  const int playerWidths[] = {184, 92, 92};
  for (int i = 0; i < 3; i++) {
    char text[64] = "";
    LVCOLUMNA c = {};
    c.mask = LVCF_TEXT | LVCF_WIDTH;
    c.pszText = text;
    c.cchTextMax = sizeof text;
    ASSERT_TRUE(SendMessageA(hwndPlayerList, LVM_GETCOLUMNA, i, (LPARAM)&c));
    EXPECT_STREQ(playerHeaders[i], text);
    EXPECT_EQ(playerWidths[i], c.cx);
  }
  int edges[4] = {};
  EXPECT_EQ(3, SendMessageA(hwndStatusBar, SB_GETPARTS, 4, (LPARAM)edges));
  EXPECT_EQ(332, edges[0]);
  EXPECT_EQ(450, edges[1]);
  EXPECT_EQ(568, edges[2]);
  for (int part = 0; part < 3; part++) EXPECT_NE(0, SendMessageA(hwndStatusBar, SB_GETICON, part, 0)) << part;
  EXPECT_EQ(HINT, StatusText(hwndStatusBar, 0));  // the empty table's first refresh
  EXPECT_EQ("0 Players", StatusText(hwndStatusBar, 1));
  EXPECT_EQ("0 Servers", StatusText(hwndStatusBar, 2));
  EXPECT_FALSE(IsWindowEnabled(hwndRefreshButton));
  EXPECT_STREQ("quake2.exe", gameExe);
}

// The display's dpi: what dpi_prefix.sh gave the test prefix, or 96 in the shared prefix.
int PrefixDpi() { return getenv("VARNET_TEST_DPI") != NULL ? atoi(getenv("VARNET_TEST_DPI")) : 96; }

void ExpectRect(HWND child, RECT expected) {
  RECT r = ChildRect(child);
  EXPECT_TRUE(EqualRect(&expected, &r)) << r.left << "," << r.top << " " << r.right << "," << r.bottom;
}

std::pair<int, int> StatusIconSize(int part) {
  ICONINFO info = {};
  BITMAP bitmap = {};
  GetIconInfo((HICON)SendMessageA(hwndStatusBar, SB_GETICON, part, 0), &info);
  GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return {bitmap.bmWidth, bitmap.bmHeight};
}

// Every fixed pixel number of the layout scaled from 96 dpi; the shares of the width as they are.
void ExpectLayoutAt(int dpi, bool columnsFromLayout = true) {
  SCOPED_TRACE(dpi);
  auto s = [dpi](int pixels) { return MulDiv(pixels, dpi, 96); };
  RECT client;
  GetClientRect(hwndMain, &client);
  int w = client.right, h = client.bottom, half = h / 2, x = w - s(84);
  ExpectRect(hwndServerList, RECT{0, 0, w, half});
  ExpectRect(hwndPlayerList, RECT{0, half + s(2), w - s(90), 2 * half + s(2) - s(22)});
  int ids[] = {ID_UPDATE, ID_CONFIG, ID_REFRESH, ID_EXIT}, bottoms[] = {174, 134, 94, 54};
  for (int i = 0; i < 4; i++)
    ExpectRect(GetDlgItem(hwndMain, ids[i]),
               RECT{x, h - s(bottoms[i]), x + s(78), h - s(bottoms[i]) + s(24)});
  EXPECT_TRUE(!columnsFromLayout ||
              (int)(w * (35 / 103.0)) == SendMessageA(hwndServerList, LVM_GETCOLUMNWIDTH, 0, 0));
  EXPECT_TRUE(!columnsFromLayout ||
              (int)((w / 1.4) * (50 / 107.0)) == SendMessageA(hwndPlayerList, LVM_GETCOLUMNWIDTH, 0, 0));
  EXPECT_EQ(h, ChildRect(hwndStatusBar).bottom);
  std::pair<int, int> images;
  for (HWND l : {hwndServerList, hwndPlayerList}) {
    HIMAGELIST list = (HIMAGELIST)SendMessageA(l, LVM_GETIMAGELIST, LVSIL_SMALL, 0);
    ImageList_GetIconSize(list, &images.first, &images.second);
    EXPECT_EQ(std::make_pair(s(16), s(14)), images);
  }
  EXPECT_EQ(std::make_pair(s(14), s(14)), StatusIconSize(0));
  for (int part = 1; part < 3; part++) EXPECT_EQ(std::make_pair(s(16), s(14)), StatusIconSize(part));
}

LONG FontHeight(HWND control) {
  LOGFONTA font = {};
  GetObjectA((HFONT)SendMessageA(control, WM_GETFONT, 0, 0), sizeof font, &font);
  return font.lfHeight;
}

// Under Wine every window has the prefix's dpi; a move to a monitor of another scale is the
// test's own WM_DPICHANGED, there and back. A column the player dragged keeps its width, scaled.
TEST_F(MainWindow, LaidOutAtTheDisplayDpiAndAgainWhenItChanges) {
  int dpi = PrefixDpi(), other = dpi == 144 ? 192 : 144;
  RECT window;
  GetWindowRect(hwndMain, &window);
  EXPECT_EQ(std::make_pair(MulDiv(560, dpi, 96), MulDiv(400, dpi, 96)),
            std::make_pair((int)(window.right - window.left), (int)(window.bottom - window.top)));
  ExpectLayoutAt(dpi);
  LONG listFont = FontHeight(hwndServerList);
  SendMessageA(hwndServerList, LVM_SETCOLUMNWIDTH, 1, 121);
  for (int next : {other, dpi}) {
    RECT suggested = {10, 20, 10 + MulDiv(560, next, 96), 20 + MulDiv(400, next, 96)};
    EXPECT_EQ(0, SendMessageA(hwndMain, WM_DPICHANGED, MAKEWPARAM(next, next), (LPARAM)&suggested));
    GetWindowRect(hwndMain, &window);
    EXPECT_TRUE(EqualRect(&suggested, &window));
    ExpectLayoutAt(next, false);
    EXPECT_EQ(MulDiv(121, next, dpi), SendMessageA(hwndServerList, LVM_GETCOLUMNWIDTH, 1, 0));
    EXPECT_EQ(MulDiv(listFont, next, dpi), FontHeight(hwndServerList));
    EXPECT_EQ(FontHeight(hwndServerList), FontHeight(ListView_GetHeader(hwndServerList)));
    EXPECT_EQ(MulDiv(16, next, 96), FontHeight(GetDlgItem(hwndMain, ID_EXIT)));
  }
}

// What a command did: started a refresh (the status text changed), asked to quit, or opened a
// dialog (its creation is refused by a hook, so no modal loop holds the test).
struct CommandEffects {
  bool refreshed, quit, dialog;
};

int dialogsRefused;

LRESULT CALLBACK RefuseDialogs(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && ((CBT_CREATEWNDA *)lParam)->lpcs->hwndParent == hwndMain) {
    char name[64] = "";
    GetClassNameA((HWND)wParam, name, sizeof name);
    if (strcmp(name, "#32770") == 0) {
      dialogsRefused++;
      return 1;
    }
  }
  return CallNextHookEx(NULL, code, wParam, lParam);
}

CommandEffects SendCommand(int id) {
  const char *const SENTINEL = "status before the command";
  SetStatusText(0, SENTINEL);
  dialogsRefused = 0;
  HHOOK hook = SetWindowsHookExA(WH_CBT, RefuseDialogs, NULL, GetCurrentThreadId());
  EXPECT_EQ(0, SendMessageA(hwndMain, WM_COMMAND, id, 0)) << id;
  UnhookWindowsHookEx(hook);
  MSG quit;
  CommandEffects effects;
  effects.quit = PeekMessageA(&quit, NULL, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;  // before a pump takes it
  PumpUntil([] { return !IsPassRunning(); }, 20000);
  effects.refreshed = StatusText(hwndStatusBar, 0) != SENTINEL;
  effects.dialog = dialogsRefused > 0;
  return effects;
}

TEST_F(MainWindow, CommandsOutsideTheFourGoToTheDefaultProcedure) {
  for (int id : {143, 150, 160, 139, 162, 9999}) {
    CommandEffects effects = SendCommand(id);
    EXPECT_FALSE(effects.refreshed) << id;
    EXPECT_FALSE(effects.quit) << id;
    EXPECT_FALSE(effects.dialog) << id;
  }
  EXPECT_TRUE(IsWindow(hwndMain));
  // The four themselves, so the checks above are known to see each kind of effect.
  EXPECT_TRUE(SendCommand(ID_REFRESH).refreshed);
  EXPECT_TRUE(SendCommand(ID_UPDATE).dialog);
  EXPECT_TRUE(SendCommand(ID_CONFIG).dialog);
  EXPECT_TRUE(SendCommand(ID_EXIT).quit);
}

TEST_F(MainWindow, RowsAfterAPassShowTextsAndPingImages) {
  SeedLabServers(true);
  RunPass();
  EXPECT_EQ("Completed. 3 of 4 servers responded.", StatusText(hwndStatusBar, 0));
  EXPECT_EQ("3 Players", StatusText(hwndStatusBar, 1));
  EXPECT_EQ("3 Servers", StatusText(hwndStatusBar, 2));
  EXPECT_TRUE(IsWindowEnabled(hwndRefreshButton));
  ASSERT_EQ(3, ListCount(hwndServerList));
  EXPECT_EQ((std::vector<std::string>{"Alpha", "Bravo Base", "charlie"}), Column(hwndServerList, 0));
  EXPECT_EQ("127.0.0.1:" + std::to_string(LabPort(ALPHA)), ListText(hwndServerList, 0, 1));
  EXPECT_EQ("q2dm1", ListText(hwndServerList, 0, 2));
  EXPECT_EQ("2 / 16", ListText(hwndServerList, 0, 3));
  EXPECT_EQ("1 / 8", ListText(hwndServerList, 1, 3));
  EXPECT_EQ("0 / 12", ListText(hwndServerList, 2, 3));
  EXPECT_EQ("base1", ListText(hwndServerList, 1, 2));
  const int images[] = {1, 2, 3};
  for (int row = 0; row < 3; row++) {
    SCOPED_TRACE(row);
    EXPECT_EQ(0, ListImage(hwndServerList, row, 0));
    EXPECT_EQ(images[row], ListImage(hwndServerList, row, 4));
    int ping = atoi(ListText(hwndServerList, row, 4).c_str());
    EXPECT_EQ(records[ListParam(hwndServerList, row)].ping, ping);
  }
  EXPECT_EQ(4, serverSortColumn);
}

TEST_F(MainWindow, HeaderClicksToggleBetweenNaturalAndReversedOrder) {
  ShowAnsweringRows();
  ClickListColumn(hwndServerList, 4);  // the pass left the list sorted by ping: reversed first
  EXPECT_EQ((std::vector<std::string>{"charlie", "Bravo Base", "Alpha"}), Column(hwndServerList, 0));
  ClickListColumn(hwndServerList, 3);
  EXPECT_EQ((std::vector<std::string>{"Alpha", "Bravo Base", "charlie"}), Column(hwndServerList, 0));
  ClickListColumn(hwndServerList, 3);
  EXPECT_EQ((std::vector<std::string>{"charlie", "Bravo Base", "Alpha"}), Column(hwndServerList, 0));
  ClickListColumn(hwndServerList, 3);
  EXPECT_EQ((std::vector<std::string>{"Alpha", "Bravo Base", "charlie"}), Column(hwndServerList, 0));
  ClickListColumn(hwndServerList, 0);  // byte-wise: capitals first
  EXPECT_EQ((std::vector<std::string>{"Alpha", "Bravo Base", "charlie"}), Column(hwndServerList, 0));
  ClickListColumn(hwndServerList, 0);
  EXPECT_EQ((std::vector<std::string>{"charlie", "Bravo Base", "Alpha"}), Column(hwndServerList, 0));
  EXPECT_EQ(-1, serverSortColumn);
}

TEST_F(MainWindow, ClickingARowShowsItsPlayersAndClickingBelowEmptiesThem) {
  ShowAnsweringRows();
  ClickListRow(hwndServerList, 0);
  ASSERT_EQ(2, ListCount(hwndPlayerList));
  EXPECT_EQ((std::vector<std::string>{"Bob", "Ann"}), Column(hwndPlayerList, 0));  // reply order
  EXPECT_EQ((std::vector<std::string>{"12", "3"}), Column(hwndPlayerList, 1));
  EXPECT_EQ((std::vector<std::string>{"48", "20"}), Column(hwndPlayerList, 2));
  EXPECT_EQ(0, ListImage(hwndPlayerList, 0, 0));

  ClickListColumn(hwndPlayerList, 2);  // ping ascending
  EXPECT_EQ((std::vector<std::string>{"Ann", "Bob"}), Column(hwndPlayerList, 0));
  ClickListRow(hwndServerList, 0);  // a refill keeps reply order and the sort state
  EXPECT_EQ((std::vector<std::string>{"Bob", "Ann"}), Column(hwndPlayerList, 0));
  EXPECT_EQ(2, playerSortColumn);

  ClickListRow(hwndServerList, -1);
  EXPECT_EQ(0, ListCount(hwndPlayerList));
  ClickListRow(hwndServerList, 2);  // charlie has nobody on
  EXPECT_EQ(0, ListCount(hwndPlayerList));
}

// Real input through the display: proves NM_CLICK, LVN_COLUMNCLICK and keyboard selection
// arrive from the list view itself.
void ClickAt(HWND window, POINT clientPoint) {
  ClientToScreen(window, &clientPoint);
  SetCursorPos(clientPoint.x, clientPoint.y);
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_MOUSE;
  input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, input, sizeof(INPUT));
  PumpFor(700);  // separate clicks must not merge into a double-click
}

void PressKey(WORD key) {
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_KEYBOARD;
  input[0].ki.wVk = input[1].ki.wVk = key;
  input[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, input, sizeof(INPUT));
  PumpFor(300);
}

TEST_F(MainWindow, RealClicksAndArrowKeys) {
  ShowAnsweringRows();
  SetForegroundWindow(hwndMain);
  PumpFor(300);
  RECT row;
  ListView_GetItemRect(hwndServerList, 1, &row, LVIR_BOUNDS);
  ClickAt(hwndServerList, POINT{40, (row.top + row.bottom) / 2});
  EXPECT_EQ((std::vector<std::string>{"Cid"}), Column(hwndPlayerList, 0));

  PressKey(VK_UP);  // the player list follows the keyboard selection
  EXPECT_EQ((std::vector<std::string>{"Bob", "Ann"}), Column(hwndPlayerList, 0));

  HWND header = ListView_GetHeader(hwndServerList);
  RECT headerItem;
  Header_GetItemRect(header, 3, &headerItem);
  ClickAt(header, POINT{(headerItem.left + headerItem.right) / 2, (headerItem.top + headerItem.bottom) / 2});
  EXPECT_EQ(3, serverSortColumn);
  EXPECT_EQ((std::vector<std::string>{"Alpha", "Bravo Base", "charlie"}), Column(hwndServerList, 0));

  RECT last;
  ListView_GetItemRect(hwndServerList, 2, &last, LVIR_BOUNDS);
  ClickAt(hwndServerList, POINT{40, last.bottom + 30});  // below the last row
  EXPECT_EQ(0, ListCount(hwndPlayerList));

  // The context menu: none below the rows; the keyboard's at the selected row, just under it.
  POINT below = {40, last.bottom + 30}, at = {};
  ClientToScreen(hwndServerList, &below);
  EXPECT_EQ(-1, ServerMenuRow(MAKELPARAM(below.x, below.y), &at));
  ListView_SetItemState(hwndServerList, 2, LVIS_SELECTED, LVIS_SELECTED);
  ASSERT_EQ(2, ServerMenuRow(MAKELPARAM(-1, -1), &at));
  ScreenToClient(hwndServerList, &at);
  EXPECT_EQ(last.bottom, at.y);
}

// A second pass would end in the same table, so the lab's count of Alpha's requests tells.
TEST_F(MainWindow, RefreshDuringAPassChangesNothing) {
  SeedLabServers(true);
  const std::string alphaRequest = " udp " + std::to_string(LabPort(ALPHA)) + " request from ";
  int requestsBefore = LabLogCount(alphaRequest);
  ASSERT_GE(requestsBefore, 0) << "no lab log";
  SendMessageA(hwndMain, WM_COMMAND, ID_REFRESH, 0);
  PumpFor(400);
  SendMessageA(hwndMain, WM_COMMAND, ID_REFRESH, 0);  // ignored while the pass runs
  ASSERT_TRUE(PumpUntil(PassCompleted, 20000));
  PumpFor(500);
  EXPECT_EQ(requestsBefore + 1, LabLogCount(alphaRequest));
  EXPECT_EQ(3, ListCount(hwndServerList));
  EXPECT_EQ("Completed. 3 of 4 servers responded.", StatusText(hwndStatusBar, 0));
  EXPECT_EQ(3, respondedCount);
  EXPECT_EQ(3, playerTotal);
}

}  // namespace
