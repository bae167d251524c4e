// The master list download thread: WinInet transfer, error report, and the merge that ends it.
#include <windows.h>
#include <wininet.h>
#include <stdio.h>

#include "app/app_win.h"
#include "master/master_win.h"
#include "query/query_win.h"

#ifndef VARNET_MASTER_URL
#define VARNET_MASTER_URL "http://127.0.0.1:27900/servers.txt"
#endif

char masterUrl[MASTER_URL_SIZE] = VARNET_MASTER_URL;
volatile LONG parsedBodyTotal;
volatile LONG parsedTextLength;

enum {
  NETWORK_TIMEOUT_MS = 30000,  // connecting, and each wait for more of the reply
  PASS_WAIT_MS = 60000         // longer than any pass: 64 queries, names to resolve
};

DWORD masterTransferLimitMs = 120000;

// The thread never calls on the dialog itself: the main window applies the change on the GUI
// thread, and only while this download's dialog is still open.
static void SendUpdateOperation(UpdateOperation operation, LPARAM value) {
  HWND window = hwndMain;
  if (window != NULL) SendMessageA(window, WM_APP_UPDATE_DIALOG, (WPARAM)operation, value);
}

static void SetUpdateStatus(const char *text) { SendUpdateOperation(UPDATE_SET_STATUS, (LPARAM)text); }

static void MoveUpdateProgress(int delta) { SendUpdateOperation(UPDATE_MOVE_PROGRESS, delta); }

void ReportUpdateError(const char *message) {
  char text[1024];
  if (message == NULL) {
    // First, before any call can replace the failing call's code.
    snprintf(text, sizeof text, "ERROR: WinInet Error (%d)", (int)GetLastError());
    message = text;
  }
  SetUpdateStatus(message);
  SendUpdateOperation(UPDATE_SET_PROGRESS, 5);
  SendUpdateOperation(UPDATE_SET_BUTTON, (LPARAM) "Close");
}

void ParseMasterList(char *text, int32_t length) {
  // The length may count NUL bytes the join kept out of the text; only the text is read.
  int32_t usable = UsableTextLength(text, length);
  InterlockedExchange(&parsedBodyTotal, length);
  InterlockedExchange(&parsedTextLength, usable);
  if (!IsMasterListBody(text, usable)) {
    ReportUpdateError("ERROR: Invalid response.");
    return;
  }
  // Query threads of a running pass write into the records; the table changes only after.
  if (!ClaimPassForMerge(PASS_WAIT_MS)) {
    ReportUpdateError("ERROR: A refresh is still running.");
    return;
  }
  MergeMasterList(text, usable);
  MoveUpdateProgress(5);
  SendUpdateOperation(UPDATE_END_DIALOG, 0);
  StartClaimedPass();
}

// How much the next read asks for: what has already arrived, up to the allowance. A read
// returns only when all it asked for is there or the body has ended, so asking for a full 8000
// bytes would let a server that trickles bytes just fast enough for the receive timeout hold
// the read for hours; waiting for data is bounded by that timeout instead. False when the
// wait failed, as a failed read.
static bool NextReadSize(HINTERNET request, int32_t allowance, DWORD *size) {
  DWORD available = 0;
  if (!InternetQueryDataAvailable(request, &available, 0, 0)) return false;
  *size = (available == 0 || available > (DWORD)allowance) ? (DWORD)allowance : available;
  return true;
}

// Reads until the body ends, a read fails, the size or time limit is reached or memory runs
// out; whatever arrived until then is the body.
static void ReadMasterBody(HINTERNET request, MasterText *body) {
  static char chunk[MASTER_READ_SIZE + 1];  // one download at a time uses it
  DWORD start = GetTickCount();
  for (;;) {
    int32_t allowance = MasterReadAllowance(body);
    DWORD size = 0, count = 0;
    if (allowance == 0 || GetTickCount() - start > masterTransferLimitMs) return;
    if (!NextReadSize(request, allowance, &size)) return;
    ZeroMemory(chunk, sizeof chunk);
    if (!InternetReadFile(request, chunk, size, &count)) return;
    MoveUpdateProgress(3);
    if (count == 0) return;
    if (count > size) count = size;
    if (!AppendMasterChunk(body, chunk, (int32_t)count)) return;
  }
}

static void SetNetworkTimeouts(HINTERNET internet) {
  DWORD timeout = NETWORK_TIMEOUT_MS;
  InternetSetOptionA(internet, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
  InternetSetOptionA(internet, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
}

static void ReceiveMasterList(HINTERNET request) {
  MasterText body = {};
  ReadMasterBody(request, &body);
  MoveUpdateProgress(4);
  if (body.text == NULL) {
    ReportUpdateError(NULL);  // the first read failed or the body was empty
  } else {
    SetUpdateStatus("Parsing servers...");
    ParseMasterList(body.text, body.total);
  }
  ReleaseMasterText(&body);
}

// Update may start again once this download has merged or failed, before its handles are
// closed: Wine's WinInet reads the rest of an announced body on that close for as long as the
// data keeps coming, which a master can stretch without end. Nothing after this touches the
// table, the dialog or the flag.
static void EndTransfer(HINTERNET request, HINTERNET internet) {
  InterlockedExchange(&updateRunning, 0);
  if (request != NULL) InternetCloseHandle(request);
  if (internet != NULL) InternetCloseHandle(internet);
}

static DWORD TransferMasterList(void) {
  SetUpdateStatus("Loading WinInet...");
  HINTERNET internet = InternetOpenA(APP_NAME, INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
  if (internet == NULL) {
    ReportUpdateError(NULL);
    EndTransfer(NULL, NULL);
    return 1;
  }
  SetNetworkTimeouts(internet);
  MoveUpdateProgress(1);
  SetUpdateStatus("Fetching server list...");
  HINTERNET request = InternetOpenUrlA(internet, masterUrl, NULL, 0,
                                       INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
  if (request == NULL) {
    ReportUpdateError(NULL);
    EndTransfer(NULL, internet);
    return 1;
  }
  MoveUpdateProgress(2);
  SetUpdateStatus("Receiving data...");
  ReceiveMasterList(request);
  EndTransfer(request, internet);
  return 0;
}

DWORD WINAPI FetchMasterList(LPVOID) { return TransferMasterList(); }
