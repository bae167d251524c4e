// The real program under Wine: settings and the server table survive its restarts.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "settings/settings.h"
#include "app/app_win.h"
#include "settings/settings_win.h"
#include "ui/ui_win.h"
#include "query/reply.h"
#include "resource.h"
#include "settings_registry.h"

namespace {

const DWORD WAIT_MS = 15000;
const DWORD SERVER_LIFETIME_MS = 90000;  // a fake stops by itself even if a test is cut short

std::string Join(const std::string &dir, const char *name) { return dir + "\\" + name; }

std::string BrowserPath(void) {
  char path[MAX_PATH];
  GetModuleFileNameA(NULL, path, sizeof path);
  char *slash = strrchr(path, '\\');
  if (slash != NULL) *slash = 0;
  return Join(path, "VarnetBrowser.exe");
}

// A UDP status server on 127.0.0.1 that counts the status requests it gets and answers them.
struct FakeServer {
  SOCKET socket;
  uint16_t port;
  volatile LONG queries;
  volatile LONG stop;
  HANDLE thread;
};

DWORD WINAPI ServeStatus(LPVOID param) {
  FakeServer *server = (FakeServer *)param;
  static const char reply[] = "\xFF\xFF\xFF\xFFprint\n\\hostname\\Fake\\mapname\\q2dm1\\maxclients\\8\n";
  DWORD start = GetTickCount();
  while (!server->stop && GetTickCount() - start < SERVER_LIFETIME_MS) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(server->socket, &readable);
    timeval wait = {0, 100000};
    if (select(0, &readable, NULL, NULL, &wait) <= 0) continue;
    char data[512];
    sockaddr_in from;
    int fromLength = sizeof from;
    int n = recvfrom(server->socket, data, sizeof data, 0, (sockaddr *)&from, &fromLength);
    if (n != STATUS_QUERY_SIZE || memcmp(data, STATUS_QUERY, STATUS_QUERY_SIZE) != 0) continue;
    InterlockedIncrement(&server->queries);
    sendto(server->socket, reply, sizeof reply - 1, 0, (sockaddr *)&from, fromLength);
  }
  return 0;
}

bool StartFake(FakeServer *server) {
  memset(server, 0, sizeof *server);
  server->socket = socket(AF_INET, SOCK_DGRAM, 0);
  if (server->socket == INVALID_SOCKET) return false;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = inet_addr("127.0.0.1");
  int length = sizeof address;
  if (bind(server->socket, (sockaddr *)&address, sizeof address) != 0) {
    closesocket(server->socket);
    return false;
  }
  getsockname(server->socket, (sockaddr *)&address, &length);
  server->port = ntohs(address.sin_port);
  server->thread = CreateThread(NULL, 0, ServeStatus, server, 0, NULL);
  return server->thread != NULL;
}

void StopFake(FakeServer *server) {
  server->stop = 1;
  if (server->thread != NULL) {
    WaitForSingleObject(server->thread, 5000);
    CloseHandle(server->thread);
  }
  closesocket(server->socket);
}

bool WaitFor(bool (*done)(void *), void *context, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (!done(context)) {
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(50);
  }
  return true;
}

struct WindowSearch {
  DWORD process;
  const char *className;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
  WindowSearch *search = (WindowSearch *)param;
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char name[64];
  GetClassNameA(window, name, sizeof name);
  if (process != search->process || strcmp(name, search->className) != 0) return TRUE;
  if (!IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}

bool FindVisible(void *param) {
  WindowSearch *search = (WindowSearch *)param;
  search->found = NULL;
  EnumWindows(MatchWindow, (LPARAM)search);
  return search->found != NULL;
}

HWND WaitForWindow(DWORD process, const char *className) {
  WindowSearch search = {process, className, NULL};
  WaitFor(FindVisible, &search, WAIT_MS);
  return search.found;
}

// One run of the program in its start-up directory.
class Browser {
 public:
  bool Start(const std::string &dir) {
    std::string exe = BrowserPath();
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    char commandLine[] = "VarnetBrowser.exe";
    if (!CreateProcessA(exe.c_str(), commandLine, NULL, NULL, FALSE, 0, NULL, dir.c_str(), &startup, &info)) {
      return false;
    }
    started = true;
    main = WaitForWindow(info.dwProcessId, APP_NAME);
    // The status bar comes from InitializeApp; a sent message returns once that has finished.
    HWND statusBar = NULL;
    for (int i = 0; main != NULL && statusBar == NULL && i < 300; i++) {
      statusBar = FindWindowExA(main, NULL, STATUSCLASSNAMEA, NULL);
      if (statusBar == NULL) Sleep(50);
    }
    DWORD_PTR ignored;
    return statusBar != NULL && SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_NORMAL, WAIT_MS, &ignored) != 0;
  }
  // The exit code, or -1 when the program had to be stopped.
  int WaitForEnd(void) {
    if (!started) return -1;
    started = false;
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(info.hProcess, WAIT_MS) == WAIT_OBJECT_0) {
      GetExitCodeProcess(info.hProcess, &code);
    } else {
      TerminateProcess(info.hProcess, 99);
      WaitForSingleObject(info.hProcess, 5000);
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return (int)code;
  }
  ~Browser() { WaitForEnd(); }
  HWND main = NULL;
  PROCESS_INFORMATION info = {};
  bool started = false;
};

void PressExit(HWND main) { PostMessageA(main, WM_COMMAND, ID_EXIT, 0); }
void PressCloseBox(HWND window) { PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0); }

std::string ReadWhole(const std::string &path) {
  std::string bytes;
  FILE *file = fopen(path.c_str(), "rb");
  if (file == NULL) return "<missing>";
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
  fclose(file);
  return bytes;
}

std::string StoredValue(const char *name) {
  DWORD type = 0;
  std::string bytes;
  if (!GetSettingsValue(HKEY_LOCAL_MACHINE, name, &type, &bytes)) return "<missing>";
  return bytes;
}

std::string Sz(const char *text) { return std::string(text, strlen(text) + 1); }
std::string Dword(DWORD number) { return std::string((const char *)&number, sizeof number); }

class BrowserRuns : public testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    char dir[MAX_PATH];
    snprintf(dir, sizeof dir, "%svarnet_app_%lu", temp, GetCurrentProcessId());
    CreateDirectoryA(dir, NULL);
    startDir = dir;
    DeleteFileA(CachePath().c_str());
    CleanKeys();
    WSADATA wsa;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(1, 1), &wsa));
  }
  void TearDown() override {
    for (int i = 0; i < fakeCount; i++) StopFake(&fakes[i]);
    WSACleanup();
    DeleteFileA(CachePath().c_str());
    RemoveDirectoryA(startDir.c_str());
    CleanKeys();
  }
  static void CleanKeys(void) {
    DeleteSettingsKey(HKEY_LOCAL_MACHINE);
    DeleteSettingsKey(HKEY_CURRENT_USER);
  }
  std::string CachePath(void) { return Join(startDir, CACHE_FILE_NAME); }
  bool StartFakes(int count) {
    for (; fakeCount < count; fakeCount++) {
      if (!StartFake(&fakes[fakeCount])) return false;
    }
    return true;
  }
  std::string startDir;
  FakeServer fakes[2];
  int fakeCount = 0;  // stopped in TearDown, however the case ended
};

TEST_F(BrowserRuns, FirstStartExitSavesTheDefaults) {
  Browser browser;
  ASSERT_TRUE(browser.Start(startDir));
  PressExit(browser.main);
  EXPECT_EQ(0, browser.WaitForEnd());
  EXPECT_EQ(Sz(""), StoredValue("Q2Dir"));
  EXPECT_EQ(Sz(DEFAULT_GAME_EXE), StoredValue("q2Exe"));  // filled in at start-up
  EXPECT_EQ(Dword(0), StoredValue("Alt. Startup Method"));
  EXPECT_EQ("", ReadWhole(CachePath()));  // an empty table: a 0-byte file
}

TEST_F(BrowserRuns, CloseBoxSavesWhatWasLoaded) {
  ASSERT_TRUE(PutSettingsText(HKEY_LOCAL_MACHINE, "Q2Dir", "C:\\Games\\Quake2\\"));
  ASSERT_TRUE(PutSettingsText(HKEY_LOCAL_MACHINE, "q2Exe", ""));
  ASSERT_TRUE(PutSettingsNumber(HKEY_LOCAL_MACHINE, "Alt. Startup Method", 7));
  Browser browser;
  ASSERT_TRUE(browser.Start(startDir));
  PressCloseBox(browser.main);
  EXPECT_EQ(0, browser.WaitForEnd());
  EXPECT_EQ(17u, StoredValue("Q2Dir").size());
  EXPECT_EQ(Sz("C:\\Games\\Quake2\\"), StoredValue("Q2Dir"));
  EXPECT_EQ(Sz(DEFAULT_GAME_EXE), StoredValue("q2Exe"));  // the empty name came back as the default
  EXPECT_EQ(Dword(7), StoredValue("Alt. Startup Method"));
}

bool BothQueried(void *param) {
  FakeServer *servers = (FakeServer *)param;
  return servers[0].queries > 0 && servers[1].queries > 0;
}

TEST_F(BrowserRuns, RestartsLoadTheCacheAndQueryThoseServers) {
  ASSERT_TRUE(StartFakes(2));
  FakeServer *servers = fakes;
  memset(records, 0, sizeof records);
  serverCount = 0;
  AppendServer("127.0.0.1", servers[0].port);
  AppendServer("127.0.0.1", servers[1].port);
  records[1].fromMasterList = 0;  // added by hand: it must survive too
  ASSERT_TRUE(SaveServerCache(CachePath().c_str()));

  for (int run = 0; run < 2; run++) {
    SCOPED_TRACE(run);
    servers[0].queries = servers[1].queries = 0;
    Browser browser;
    ASSERT_TRUE(browser.Start(startDir));
    EXPECT_TRUE(WaitFor(BothQueried, servers, WAIT_MS));
    if (run == 0) PressExit(browser.main);
    if (run == 1) PressCloseBox(browser.main);
    EXPECT_EQ(0, browser.WaitForEnd());

    std::string saved = ReadWhole(CachePath());
    ASSERT_EQ(2 * sizeof(ServerRecord), saved.size());
    const ServerRecord *image = (const ServerRecord *)saved.data();
    for (int i = 0; i < 2; i++) {
      EXPECT_STREQ("127.0.0.1", image[i].address);
      EXPECT_EQ(servers[i].port, image[i].port);
      EXPECT_EQ(i == 0 ? 1 : 0, image[i].fromMasterList);
    }
  }
}

HWND OpenConfig(const Browser &browser) {
  PostMessageA(browser.main, WM_COMMAND, ID_CONFIG, 0);
  return WaitForWindow(browser.info.dwProcessId, "#32770");
}

bool WindowGone(void *window) { return !IsWindow((HWND)window); }

std::string Field(HWND dialog, int id) {
  char text[SETTING_TEXT_SIZE];
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

TEST_F(BrowserRuns, ConfigDialogEditsReachTheNextRun) {
  Browser first;
  ASSERT_TRUE(first.Start(startDir));
  HWND dialog = OpenConfig(first);
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ("", Field(dialog, IDC_GAME_DIR));
  EXPECT_EQ(DEFAULT_GAME_EXE, Field(dialog, IDC_GAME_EXE));
  SetDlgItemTextA(dialog, IDC_GAME_DIR, "C:\\Games\\Quake2");
  SetDlgItemTextA(dialog, IDC_GAME_EXE, "q2x.exe");
  SendDlgItemMessageA(dialog, IDC_ALT_START, BM_CLICK, 0, 0);
  SendDlgItemMessageA(dialog, IDC_ALT_START, BM_CLICK, 0, 0);  // indeterminate
  PressCloseBox(dialog);
  EXPECT_TRUE(WaitFor(WindowGone, dialog, WAIT_MS));
  PressExit(first.main);
  EXPECT_EQ(0, first.WaitForEnd());
  EXPECT_EQ(Sz("C:\\Games\\Quake2\\"), StoredValue("Q2Dir"));
  EXPECT_EQ(Sz("q2x.exe"), StoredValue("q2Exe"));
  EXPECT_EQ(Dword(2), StoredValue("Alt. Startup Method"));

  Browser second;
  ASSERT_TRUE(second.Start(startDir));
  dialog = OpenConfig(second);
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ("C:\\Games\\Quake2\\", Field(dialog, IDC_GAME_DIR));
  EXPECT_EQ("q2x.exe", Field(dialog, IDC_GAME_EXE));
  EXPECT_EQ(BST_INDETERMINATE, SendDlgItemMessageA(dialog, IDC_ALT_START, BM_GETCHECK, 0, 0));
  SetDlgItemTextA(dialog, IDC_GAME_EXE, "");
  PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  EXPECT_TRUE(WaitFor(WindowGone, dialog, WAIT_MS));
  PressCloseBox(second.main);
  EXPECT_EQ(0, second.WaitForEnd());
  EXPECT_EQ(Sz(""), StoredValue("q2Exe"));  // an emptied name is saved empty
}

}  // namespace
