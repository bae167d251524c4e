// Driving the real browser program from a test: a server that answers its query, its cache file, its rows and
// boxes.
#include <winsock2.h>

#include "launch_program.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>

#include "launch_support.h"
#include "pump.h"
#include "table/table.h"

// ---- Status server ---------------------------------------------------------------------------

static SOCKET statusSocket = INVALID_SOCKET;
static HANDLE statusThread;
static volatile LONG statusStop;
static DWORD statusLifetime;

static const char STATUS_REPLY[] =
    "\xFF\xFF\xFF\xFFprint\n\\hostname\\Launch Test\\mapname\\q2dm1\\maxclients\\8\n5 40 \"Tester\"\n";

static DWORD WINAPI ServeStatus(LPVOID) {
  DWORD start = GetTickCount();
  while (!statusStop && GetTickCount() - start < statusLifetime) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(statusSocket, &readable);
    timeval wait = {0, 100000};
    if (select(0, &readable, NULL, NULL, &wait) <= 0) continue;
    char request[64];
    sockaddr_in from;
    int fromLength = sizeof from;
    int got = recvfrom(statusSocket, request, sizeof request, 0, (sockaddr *)&from, &fromLength);
    if (got >= 10 && memcmp(request, "\xFF\xFF\xFF\xFFstatus", 10) == 0)
      sendto(statusSocket, STATUS_REPLY, (int)sizeof STATUS_REPLY - 1, 0, (sockaddr *)&from, fromLength);
  }
  return 0;
}

bool StartLaunchStatusServer(uint16_t *port, DWORD lifetimeMs) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  statusSocket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (statusSocket == INVALID_SOCKET) return false;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = inet_addr("127.0.0.1");
  int length = sizeof address;
  if (bind(statusSocket, (sockaddr *)&address, sizeof address) != 0) return false;
  if (getsockname(statusSocket, (sockaddr *)&address, &length) != 0) return false;
  *port = ntohs(address.sin_port);
  statusStop = 0;
  statusLifetime = lifetimeMs;
  statusThread = CreateThread(NULL, 0, ServeStatus, NULL, 0, NULL);
  return statusThread != NULL;
}

void StopLaunchStatusServer(void) {
  InterlockedExchange(&statusStop, 1);
  if (statusThread != NULL) {
    WaitForSingleObject(statusThread, 5000);
    CloseHandle(statusThread);
    statusThread = NULL;
  }
  if (statusSocket != INVALID_SOCKET) {
    closesocket(statusSocket);
    statusSocket = INVALID_SOCKET;
    WSACleanup();
  }
}

// ---- The program -----------------------------------------------------------------------------

bool WriteLaunchCache(const std::string &path, const char *address, uint16_t port) {
  ServerRecord record;
  memset(&record, 0, sizeof record);
  CopyText(record.address, sizeof record.address, address);
  record.port = port;
  record.fromMasterList = 1;
  FILE *file = fopen(path.c_str(), "wb");
  if (file == NULL) return false;
  bool written = fwrite(&record, sizeof record, 1, file) == 1;
  return fclose(file) == 0 && written;
}

bool StartLaunchBrowser(const std::string &runDir, PROCESS_INFORMATION *process) {
  std::string path = BuiltProgramPath("VARNET_BROWSER", "VarnetBrowser.exe");
  std::string line = "\"" + path + "\"";
  char commandLine[MAX_PATH + 3];
  snprintf(commandLine, sizeof commandLine, "%s", line.c_str());
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  return CreateProcessA(path.c_str(), commandLine, NULL, NULL, FALSE, 0, NULL, runDir.c_str(), &startup,
                        process) != 0;
}

struct WindowSearch {
  DWORD pid;
  const char *className;
  const char *caption;  // NULL: any
  HWND found;
};

static BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
  WindowSearch *search = (WindowSearch *)param;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char className[64] = "";
  GetClassNameA(window, className, sizeof className);
  if (pid != search->pid || strcmp(className, search->className) != 0 || !IsWindowVisible(window))
    return TRUE;
  if (search->caption != NULL) {
    char caption[128] = "";
    GetWindowTextA(window, caption, sizeof caption);  // another process's caption needs no message
    if (strcmp(caption, search->caption) != 0) return TRUE;
  }
  search->found = window;
  return FALSE;
}

static HWND FindProcessWindow(DWORD pid, const char *className, const char *caption) {
  WindowSearch search = {pid, className, caption, NULL};
  EnumWindows(MatchWindow, (LPARAM)&search);
  return search.found;
}

HWND WaitForLaunchBrowserRow(DWORD pid, DWORD timeoutMs) {
  HWND list = NULL;
  PumpUntil(
      [&] {
        HWND browser = FindProcessWindow(pid, "Varnet Server Browser", NULL);
        list = browser != NULL ? GetDlgItem(browser, 143) : NULL;
        DWORD_PTR rows = 0;
        if (list != NULL) SendMessageTimeoutA(list, LVM_GETITEMCOUNT, 0, 0, SMTO_NORMAL, 2000, &rows);
        return rows > 0;
      },
      timeoutMs);
  DWORD_PTR rows = 0;
  if (list != NULL) SendMessageTimeoutA(list, LVM_GETITEMCOUNT, 0, 0, SMTO_NORMAL, 2000, &rows);
  return rows > 0 ? list : NULL;
}

bool DoubleClickLaunchFirstRow(HWND list) {
  DWORD_PTR header = 0;
  SendMessageTimeoutA(list, LVM_GETHEADER, 0, 0, SMTO_NORMAL, 2000, &header);
  if (header == 0) return false;
  RECT rect;
  if (!GetWindowRect((HWND)header, &rect)) return false;
  POINT point = {rect.left + 20, rect.bottom + 6};  // inside the first row, just under the header
  ScreenToClient(list, &point);
  return PostMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(point.x, point.y)) != 0;
}

HWND FindLaunchProcessBox(DWORD pid, const char *caption) {
  return FindProcessWindow(pid, "#32770", caption);
}

std::string LaunchBoxText(HWND box) {
  char text[1024] = "";
  DWORD_PTR result = 0;
  HWND label = GetDlgItem(box, 0xFFFF);
  if (label != NULL)
    SendMessageTimeoutA(label, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_NORMAL, 5000, &result);
  text[sizeof text - 1] = 0;
  return text;
}

void PressLaunchBoxButton(HWND box, int id) {
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(box, id));
}

bool WaitForLaunchExit(HANDLE process, DWORD timeoutMs, DWORD *exitCode) {
  bool ended = PumpUntil([&] { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }, timeoutMs);
  if (!ended) return false;
  return GetExitCodeProcess(process, exitCode) != 0;
}
