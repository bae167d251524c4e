// Launch and search tests: a window with real controls, a message-box answerer, the stand-in game, file
// trees.
#include "launch_support.h"

#include <stdio.h>
#include <string.h>

#include "app/app_win.h"
#include "settings/settings_win.h"
#include "ui/ui_win.h"
#include "launch/launch_win.h"
#include "table/table.h"

// ---- Test window -----------------------------------------------------------------------------

std::vector<LaunchStatusEntry> launchStatusLog;
static WNDPROC statusBarProc;

// Sees every text on its way into the real status bar, on the GUI thread.
static LRESULT CALLBACK StatusBarSpy(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == SB_SETTEXTA) {
    LaunchStatusEntry entry;
    entry.text = lParam != 0 ? (const char *)lParam : "";
    entry.wParam = wParam;
    entry.cursor = GetCursor();
    entry.waitCursor = entry.cursor == LoadCursor(NULL, IDC_WAIT);
    launchStatusLog.push_back(entry);
  }
  return CallWindowProcA(statusBarProc, window, message, wParam, lParam);
}

static bool CreateLaunchControls(void) {
  hwndServerList = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 400, 200,
                                   hwndMain, (HMENU)(INT_PTR)ID_SERVER_LIST, GetModuleHandleA(NULL), NULL);
  hwndStatusBar = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, hwndMain, NULL,
                                  GetModuleHandleA(NULL), NULL);
  if (hwndServerList == NULL || hwndStatusBar == NULL) return false;
  LVCOLUMNA column = {};
  column.mask = LVCF_WIDTH | LVCF_TEXT;
  column.cx = 200;
  column.pszText = (LPSTR) "Host Name";
  SendMessageA(hwndServerList, LVM_INSERTCOLUMNA, 0, (LPARAM)&column);
  int edges[3] = {200, 300, -1};
  SendMessageA(hwndStatusBar, SB_SETPARTS, 3, (LPARAM)edges);
  statusBarProc = (WNDPROC)SetWindowLongPtrA(hwndStatusBar, GWLP_WNDPROC, (LONG_PTR)StatusBarSpy);
  return true;
}

bool CreateLaunchWindows(void) {
  if (hwndMain != NULL) return true;
  InitCommonControls();
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(NULL);
  wc.lpszClassName = "VarnetLaunchTestMain";
  RegisterClassExA(&wc);
  hwndMain = CreateWindowExA(0, wc.lpszClassName, "Varnet Server Browser", WS_OVERLAPPEDWINDOW, 0, 0, 560,
                             400, NULL, NULL, wc.hInstance, NULL);
  if (hwndMain == NULL) return false;
  ShowWindow(hwndMain, SW_SHOWNORMAL);
  return CreateLaunchControls();
}

void ResetLaunchWindows(void) {
  SendMessageA(hwndServerList, LVM_DELETEALLITEMS, 0, 0);
  memset(records, 0, sizeof records);
  serverCount = 0;
  for (int part = 0; part < 3; part++) SendMessageA(hwndStatusBar, SB_SETTEXTA, (WPARAM)part, (LPARAM) "");
  launchStatusLog.clear();
}

int AddLaunchServerRow(const char *address, uint16_t port) {
  if (!AppendServer(address, port)) return -1;
  LVITEMA item = {};
  item.mask = LVIF_PARAM | LVIF_TEXT;
  item.iItem = (int)SendMessageA(hwndServerList, LVM_GETITEMCOUNT, 0, 0);
  item.lParam = serverCount - 1;
  item.pszText = (LPSTR) "server";
  return (int)SendMessageA(hwndServerList, LVM_INSERTITEMA, 0, (LPARAM)&item);
}

void DoubleClickLaunchRow(int row) {
  NMITEMACTIVATE activate = {};
  activate.hdr.hwndFrom = hwndServerList;
  activate.hdr.idFrom = ID_SERVER_LIST;
  activate.hdr.code = NM_DBLCLK;
  activate.iItem = row;
  activate.iSubItem = 0;
  // What the main window does with a started game, without its once-per-run guard: each test
  // here is a run of its own.
  if (LaunchSelectedServer(&activate)) {
    SaveState();
    PostQuitMessage(0);
  }
}

std::string LaunchStatusText(int part) {
  char text[512] = "";
  LRESULT length = SendMessageA(hwndStatusBar, SB_GETTEXTLENGTHA, (WPARAM)part, 0);
  if (LOWORD(length) >= sizeof text) return "<too long>";
  SendMessageA(hwndStatusBar, SB_GETTEXTA, (WPARAM)part, (LPARAM)text);
  return text;
}

bool TakeLaunchQuit(int *exitCode) {
  MSG msg;
  if (!PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE)) return false;
  *exitCode = (int)msg.wParam;
  return true;
}

// ---- Message-box watcher ---------------------------------------------------------------------

static HANDLE watcherThread;
static volatile LONG watcherStop;
static DWORD watcherGuiThread;
static std::vector<int> watcherAnswers;
static std::vector<LaunchBox> watcherBoxes;

static BOOL CALLBACK FindDialogProc(HWND window, LPARAM param) {
  char className[32] = "";
  GetClassNameA(window, className, sizeof className);
  if (strcmp(className, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
  *(HWND *)param = window;
  return FALSE;
}

// A text read through the GUI thread's message loop, with a limit on the wait.
static std::string WindowText(HWND window) {
  char text[2048] = "";
  DWORD_PTR result = 0;
  if (window == NULL) return "";
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_NORMAL, 5000, &result);
  text[sizeof text - 1] = 0;
  return text;
}

static std::string StatusWhileBoxIsUp(void) {
  char text[512] = "";
  DWORD_PTR length = 0;
  SendMessageTimeoutA(hwndStatusBar, SB_GETTEXTLENGTHA, 0, 0, SMTO_NORMAL, 5000, &length);
  if (LOWORD(length) >= sizeof text) return "<too long>";
  DWORD_PTR result = 0;
  SendMessageTimeoutA(hwndStatusBar, SB_GETTEXTA, 0, (LPARAM)text, SMTO_NORMAL, 5000, &result);
  return text;
}

struct IconSearch {
  HICON icon;
};

static BOOL CALLBACK FindIconProc(HWND child, LPARAM param) {
  DWORD_PTR icon = 0;
  SendMessageTimeoutA(child, STM_GETICON, 0, 0, SMTO_NORMAL, 5000, &icon);
  if (icon == 0) return TRUE;
  ((IconSearch *)param)->icon = (HICON)icon;
  return FALSE;
}

static bool HasButton(HWND box, int id) {
  HWND button = GetDlgItem(box, id);
  return button != NULL && IsWindowVisible(button);
}

static LaunchBox DescribeBox(HWND box) {
  LaunchBox seen;
  seen.caption = WindowText(box);
  seen.text = WindowText(GetDlgItem(box, 0xFFFF));
  seen.status = StatusWhileBoxIsUp();
  seen.owner = GetWindow(box, GW_OWNER);
  bool yes = HasButton(box, IDYES), no = HasButton(box, IDNO), ok = HasButton(box, IDOK);
  seen.yesNo = yes && no && !ok;
  seen.okOnly = ok && !yes && !no && !HasButton(box, IDCANCEL);
  IconSearch search = {NULL};
  EnumChildWindows(box, FindIconProc, (LPARAM)&search);
  seen.questionIcon = search.icon != NULL && search.icon == LoadIcon(NULL, IDI_QUESTION);
  seen.warningIcon = search.icon != NULL && search.icon == LoadIcon(NULL, IDI_WARNING);
  return seen;
}

// Presses a button the way a click does, then waits (with a limit) for the box to go.
static void AnswerBox(HWND box, int id) {
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(box, id));
  for (int i = 0; i < 500 && IsWindow(box); i++) Sleep(10);
}

static DWORD WINAPI WatchBoxes(LPVOID) {
  size_t questions = 0;
  DWORD start = GetTickCount();
  while (!watcherStop && GetTickCount() - start < 280000) {
    HWND box = NULL;
    EnumThreadWindows(watcherGuiThread, FindDialogProc, (LPARAM)&box);
    if (box == NULL) {
      Sleep(10);
      continue;
    }
    LaunchBox seen = DescribeBox(box);
    watcherBoxes.push_back(seen);
    int answer = IDOK;
    if (HasButton(box, IDYES)) answer = questions < watcherAnswers.size() ? watcherAnswers[questions] : IDNO;
    if (HasButton(box, IDYES)) questions++;
    AnswerBox(box, answer);
  }
  return 0;
}

void StartLaunchBoxWatcher(const std::vector<int> &answers) {
  watcherAnswers = answers;
  watcherBoxes.clear();
  watcherStop = 0;
  watcherGuiThread = GetCurrentThreadId();
  watcherThread = CreateThread(NULL, 0, WatchBoxes, NULL, 0, NULL);
}

std::vector<LaunchBox> StopLaunchBoxWatcher(void) {
  InterlockedExchange(&watcherStop, 1);
  if (watcherThread != NULL) {
    WaitForSingleObject(watcherThread, 10000);
    CloseHandle(watcherThread);
    watcherThread = NULL;
  }
  return watcherBoxes;
}

// ---- Stand-in game ---------------------------------------------------------------------------

std::string BuiltProgramPath(const char *variable, const char *name) {
  char path[MAX_PATH] = "";
  DWORD length = GetEnvironmentVariableA(variable, path, sizeof path);
  if (length > 0 && length < sizeof path) return path;
  length = GetModuleFileNameA(NULL, path, sizeof path);
  if (length == 0 || length >= sizeof path) return "";
  std::string own = path;
  return own.substr(0, own.rfind('\\') + 1) + name;
}

bool InstallLaunchStandIn(const std::string &dir, const char *name) {
  std::string target = dir + name;
  return CopyFileA(BuiltProgramPath("VARNET_STANDIN", "quake2.exe").c_str(), target.c_str(), FALSE) != 0;
}

static std::string ReadWholeFile(const std::string &path) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                  OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return "";
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

// Fills the field named by the line's label; true at a record's end marker.
static bool TakeLogLine(const std::string &line, LaunchGameStart *start) {
  static const char *const labels[3] = {"command line: ", "current directory: ", "module: "};
  std::string *fields[3] = {&start->commandLine, &start->currentDir, &start->module};
  for (int i = 0; i < 3; i++) {
    size_t n = strlen(labels[i]);
    if (line.compare(0, n, labels[i]) == 0) *fields[i] = line.substr(n);
  }
  return line == "end";
}

std::vector<LaunchGameStart> ReadLaunchGameStarts(const std::string &dir) {
  std::string text = ReadWholeFile(dir + "fakegame.log");
  std::vector<LaunchGameStart> starts;
  LaunchGameStart start;
  size_t from = 0, end;
  while ((end = text.find("\r\n", from)) != std::string::npos) {
    if (TakeLogLine(text.substr(from, end - from), &start)) {
      starts.push_back(start);
      start = LaunchGameStart();
    }
    from = end + 2;
  }
  return starts;
}

bool WaitForLaunchGameStarts(const std::string &dir, size_t count, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (ReadLaunchGameStarts(dir).size() < count) {
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(50);
  }
  return true;
}

// ---- Files -----------------------------------------------------------------------------------

// The \\?\ form lifts the 260-character limit for the tests' own deep trees.
static std::wstring LongPath(std::string path) {
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
  wchar_t wide[32768];
  int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, 32768);
  if (n <= 0) return L"";
  return std::wstring(L"\\\\?\\") + wide;
}

bool MakeLaunchDirs(const std::string &path) {
  for (size_t at = 3; at <= path.size(); at++) {
    if (at < path.size() && path[at] != '\\') continue;
    std::wstring level = LongPath(path.substr(0, at));
    if (!CreateDirectoryW(level.c_str(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return true;
}

bool WriteLaunchFile(const std::string &path, const char *text) {
  HANDLE file = CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, text, (DWORD)strlen(text), &written, NULL);
  CloseHandle(file);
  return ok && written == strlen(text);
}

bool LaunchPathExists(const std::string &path) {
  return GetFileAttributesW(LongPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

static void RemoveEntry(const std::wstring &path, DWORD attributes, int depth);

static void RemoveTreeW(const std::wstring &dir, int depth) {
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) continue;
      RemoveEntry(dir + L"\\" + entry.cFileName, entry.dwFileAttributes, depth);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryW(dir.c_str());
}

static void RemoveEntry(const std::wstring &path, DWORD attributes, int depth) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
    DeleteFileW(path.c_str());
  else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
    RemoveDirectoryW(path.c_str());
  else if (depth < 200)
    RemoveTreeW(path, depth + 1);
}

void RemoveLaunchTree(const std::string &dir) {
  std::wstring root = LongPath(dir);
  if (root.size() <= 7) return;  // never a drive root
  RemoveTreeW(root, 0);
}

std::string MakeLaunchTempDir(const char *prefix) {
  static int counter;
  char temp[MAX_PATH] = "";
  DWORD length = GetTempPathA(sizeof temp, temp);
  if (length == 0 || length >= sizeof temp) return "";
  char name[MAX_PATH];
  snprintf(name, sizeof name, "%s%s-%lu-%d\\", temp, prefix, (unsigned long)GetCurrentProcessId(), ++counter);
  RemoveLaunchTree(name);
  if (!MakeLaunchDirs(name)) return "";
  return name;
}

std::vector<std::string> ListLaunchNames(const std::string &dir) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((dir + "*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(entry.cFileName);
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return names;
}

// ---- Registry --------------------------------------------------------------------------------

static HKEY machineStandIn, userStandIn;
static char registryRoot[64];

bool IsolateLaunchRegistry(void) {
  snprintf(registryRoot, sizeof registryRoot, "Software\\VarnetLaunchTest\\%lu",
           (unsigned long)GetCurrentProcessId());
  RegDeleteTreeA(HKEY_CURRENT_USER, registryRoot);
  std::string machine = std::string(registryRoot) + "\\machine", user = std::string(registryRoot) + "\\user";
  if (RegCreateKeyExA(HKEY_CURRENT_USER, machine.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &machineStandIn,
                      NULL) != ERROR_SUCCESS)
    return false;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, user.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &userStandIn,
                      NULL) != ERROR_SUCCESS)
    return false;
  return RegOverridePredefKey(HKEY_LOCAL_MACHINE, machineStandIn) == ERROR_SUCCESS &&
         RegOverridePredefKey(HKEY_CURRENT_USER, userStandIn) == ERROR_SUCCESS;
}

void RestoreLaunchRegistry(void) {
  if (registryRoot[0] == 0) return;  // never isolated: nothing of ours to delete
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, NULL);
  RegOverridePredefKey(HKEY_CURRENT_USER, NULL);
  if (machineStandIn != NULL) RegCloseKey(machineStandIn);
  if (userStandIn != NULL) RegCloseKey(userStandIn);
  machineStandIn = userStandIn = NULL;
  RegDeleteTreeA(HKEY_CURRENT_USER, registryRoot);
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\VarnetLaunchTest");  // only goes when no other run is in it
  registryRoot[0] = 0;
}

std::vector<LaunchBox> DoubleClickAnswering(int row, const std::vector<int> &answers) {
  StartLaunchBoxWatcher(answers);
  DoubleClickLaunchRow(row);
  return StopLaunchBoxWatcher();
}

std::vector<std::string> LaunchStatusTexts(void) {
  std::vector<std::string> texts;
  for (const LaunchStatusEntry &entry : launchStatusLog) texts.push_back(entry.text);
  return texts;
}
