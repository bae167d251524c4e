// Finding the browser's windows and reading its controls through a buffer inside its process.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "probe.h"

enum {
  REMOTE_SIZE = 65536,
  REMOTE_TEXT_OFFSET = 4096,  // structures first, texts after them
  REMOTE_TEXT_SIZE = REMOTE_SIZE - REMOTE_TEXT_OFFSET,
  CLASS_NAME_SIZE = 64
};

bool Elapsed(DWORD start, DWORD limitMs) { return GetTickCount() - start >= limitMs; }

int ParseInt(const char *text, int fallback) {
  if (text == NULL || text[0] == 0) return fallback;
  char *end = NULL;
  long value = strtol(text, &end, 10);
  return (end != NULL && *end == 0) ? (int)value : fallback;
}

HWND FindBrowser(void) { return FindWindowA(BROWSER_CLASS, BROWSER_CLASS); }

HWND WaitForBrowser(DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND browser = FindBrowser();
    if (browser != NULL || Elapsed(start, timeoutMs)) return browser;
    Sleep(POLL_MS);
  }
}

DWORD WindowProcess(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

HWND ChildById(HWND parent, int id) { return GetDlgItem(parent, id); }

static bool HasClass(HWND window, const char *wanted) {
  char name[CLASS_NAME_SIZE] = "";
  GetClassNameA(window, name, sizeof name);
  return strcmp(name, wanted) == 0;
}

struct DialogSearch {
  DWORD pid;
  HWND found;
};

static BOOL CALLBACK MatchDialog(HWND window, LPARAM data) {
  DialogSearch *search = (DialogSearch *)data;
  if (WindowProcess(window) != search->pid || !IsWindowVisible(window)) return TRUE;
  if (!HasClass(window, DIALOG_CLASS)) return TRUE;
  search->found = window;
  return FALSE;
}

HWND FindBrowserDialog(DWORD pid) {
  DialogSearch search = {pid, NULL};
  EnumWindows(MatchDialog, (LPARAM)&search);
  return search.found;
}

HWND FindStatusBar(HWND browser) { return FindWindowExA(browser, NULL, STATUSCLASSNAMEA, NULL); }

LRESULT SendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, SEND_TIMEOUT_MS, &result)) return 0;
  return (LRESULT)result;
}

bool ReadWindowText(HWND window, char *text, int size) {
  text[0] = 0;
  if (window == NULL) return false;
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, (WPARAM)size, (LPARAM)text, SMTO_NORMAL, SEND_TIMEOUT_MS,
                           &length))
    return false;
  text[size - 1] = 0;
  return true;
}

bool OpenRemote(HWND window, RemoteBuffer *remote) {
  remote->process =
      OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION,
                  FALSE, WindowProcess(window));
  remote->base = NULL;
  remote->size = REMOTE_SIZE;
  if (remote->process == NULL) return false;
  remote->base =
      (char *)VirtualAllocEx(remote->process, NULL, REMOTE_SIZE, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (remote->base != NULL) return true;
  CloseHandle(remote->process);
  remote->process = NULL;
  return false;
}

void CloseRemote(RemoteBuffer *remote) {
  if (remote->base != NULL) VirtualFreeEx(remote->process, remote->base, 0, MEM_RELEASE);
  if (remote->process != NULL) CloseHandle(remote->process);
  remote->base = NULL;
  remote->process = NULL;
}

bool WriteRemote(RemoteBuffer *remote, SIZE_T offset, const void *data, SIZE_T size) {
  if (offset + size > remote->size) return false;
  SIZE_T done = 0;
  return WriteProcessMemory(remote->process, remote->base + offset, data, size, &done) && done == size;
}

bool ReadRemote(RemoteBuffer *remote, SIZE_T offset, void *data, SIZE_T size) {
  if (offset + size > remote->size) return false;
  SIZE_T done = 0;
  return ReadProcessMemory(remote->process, remote->base + offset, data, size, &done) && done == size;
}

// Texts come back from the remote text area, cut to the caller's buffer.
static bool ReadRemoteText(RemoteBuffer *remote, char *text, int size) {
  int want = size < REMOTE_TEXT_SIZE ? size : REMOTE_TEXT_SIZE;
  if (!ReadRemote(remote, REMOTE_TEXT_OFFSET, text, (SIZE_T)want)) return false;
  text[want - 1] = 0;
  return true;
}

// SB_GETTEXT has no length limit, so the length is checked first against the remote area.
bool ReadStatusPart(HWND statusBar, RemoteBuffer *remote, int part, char *text, int size) {
  text[0] = 0;
  LRESULT lengthInfo = SendBounded(statusBar, SB_GETTEXTLENGTHA, (WPARAM)part, 0);
  if (LOWORD(lengthInfo) >= REMOTE_TEXT_SIZE) return false;
  char zero = 0;
  if (!WriteRemote(remote, REMOTE_TEXT_OFFSET, &zero, 1)) return false;
  SendBounded(statusBar, SB_GETTEXTA, (WPARAM)part, (LPARAM)(remote->base + REMOTE_TEXT_OFFSET));
  return ReadRemoteText(remote, text, size);
}

int ListCount(HWND list) { return (int)SendBounded(list, LVM_GETITEMCOUNT, 0, 0); }

bool ReadListCell(HWND list, RemoteBuffer *remote, int row, int column, char *text, int size) {
  text[0] = 0;
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = remote->base + REMOTE_TEXT_OFFSET;
  item.cchTextMax = size < REMOTE_TEXT_SIZE ? size : REMOTE_TEXT_SIZE;
  char zero = 0;
  if (!WriteRemote(remote, 0, &item, sizeof item) || !WriteRemote(remote, REMOTE_TEXT_OFFSET, &zero, 1))
    return false;
  SendBounded(list, LVM_GETITEMTEXTA, (WPARAM)row, (LPARAM)remote->base);
  return ReadRemoteText(remote, text, size);
}

// -1 when the list gives no image.
int ReadListImage(HWND list, RemoteBuffer *remote, int row, int column) {
  LVITEMA item = {};
  item.mask = LVIF_IMAGE;
  item.iItem = row;
  item.iSubItem = column;
  item.iImage = -1;
  if (!WriteRemote(remote, 0, &item, sizeof item)) return -1;
  if (!SendBounded(list, LVM_GETITEMA, 0, (LPARAM)remote->base)) return -1;
  if (!ReadRemote(remote, 0, &item, sizeof item)) return -1;
  return item.iImage;
}

// The row's label area in screen coordinates; the row is scrolled into view first.
bool ReadListRect(HWND list, RemoteBuffer *remote, int row, RECT *rect) {
  SendBounded(list, LVM_ENSUREVISIBLE, (WPARAM)row, FALSE);
  RECT request = {};
  request.left = LVIR_LABEL;
  if (!WriteRemote(remote, 0, &request, sizeof request)) return false;
  if (!SendBounded(list, LVM_GETITEMRECT, (WPARAM)row, (LPARAM)remote->base)) return false;
  if (!ReadRemote(remote, 0, rect, sizeof *rect)) return false;
  MapWindowPoints(list, NULL, (POINT *)rect, 2);
  return true;
}

bool ReadHeaderRect(HWND list, RemoteBuffer *remote, int column, RECT *rect) {
  HWND header = (HWND)SendBounded(list, LVM_GETHEADER, 0, 0);
  if (header == NULL) return false;
  if (!SendBounded(header, HDM_GETITEMRECT, (WPARAM)column, (LPARAM)remote->base)) return false;
  if (!ReadRemote(remote, 0, rect, sizeof *rect)) return false;
  MapWindowPoints(header, NULL, (POINT *)rect, 2);
  return true;
}
