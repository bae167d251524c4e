// The master list download thread: WinInet transfer, error report, and the merge that ends it.
#include <windows.h>
#include <wininet.h>
#include <stdio.h>
#include <stdlib.h>

#include "settings/settings_win.h"
#include "ui/ui_win.h"
#include "master/master_win.h"
#include "query/query_win.h"

// A build for tests may shorten the deadline (see master_win.h); the program keeps 120 s.
#ifndef VARNET_MASTER_DEADLINE_MS
#define VARNET_MASTER_DEADLINE_MS 120000
#endif

DWORD masterTransferLimitMs = VARNET_MASTER_DEADLINE_MS;
volatile LONG parsedBodyTotal;
volatile LONG parsedTextLength;

enum { NETWORK_TIMEOUT_MS = 30000 };  // connecting, and each wait for more of the reply

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
  ClaimPassForMerge();
  // The GUI thread owns the rows that show the records, so the table changes there, in one
  // step with the removal of the rows.
  MasterListText list = {text, usable};
  HWND window = hwndMain;
  if (window != NULL) SendMessageA(window, WM_APP_MERGE_LIST, 0, (LPARAM)&list);
  MoveUpdateProgress(5);
  SendUpdateOperation(UPDATE_END_DIALOG, 0);
  StartMergedPass();  // the GUI thread resets the records, after the dialog has ended
}

// One blocking WinInet call, made on a thread of its own so that the download thread can stop
// waiting for it at the deadline: closing a handle from another thread ends the call on
// Windows, but Wine's WinInet goes on waiting. The call's thread and the download thread each
// hold a reference and the last to let go frees it, so a call that returns after the download
// gave up writes only into its own memory and closes the request it may have opened.
enum WinInetCallKind { CALL_OPEN_URL, CALL_READ };

struct WinInetCall {
  volatile LONG references;
  HANDLE done;  // set once the call has returned
  WinInetCallKind kind;
  HINTERNET handle;   // the Internet handle to open the URL on, or the request to read
  HINTERNET request;  // the opened request, until the download thread takes it
  DWORD allowance;    // a read asks for at most this many bytes
  DWORD count;        // bytes read
  BOOL succeeded;
  DWORD error;  // the last error of a failed call
  char chunk[MASTER_READ_SIZE + 1];
};

static WinInetCall *NewWinInetCall(WinInetCallKind kind, HINTERNET handle) {
  WinInetCall *call = (WinInetCall *)calloc(1, sizeof(WinInetCall));
  if (call == NULL) return NULL;
  call->done = CreateEventA(NULL, TRUE, FALSE, NULL);
  if (call->done == NULL) {
    free(call);
    return NULL;
  }
  call->references = 1;
  call->kind = kind;
  call->handle = handle;
  return call;
}

static void ReleaseWinInetCall(WinInetCall *call) {
  if (InterlockedDecrement(&call->references) != 0) return;
  if (call->request != NULL) InternetCloseHandle(call->request);  // opened after the download gave up
  CloseHandle(call->done);
  free(call);
}

// How much a read asks for: what has already arrived, up to the allowance. A read returns only
// when all it asked for is there or the body has ended, so asking for a full 8000 bytes would
// let a server trickle bytes just fast enough for the receive timeout, read after read.
static BOOL ReadAvailable(WinInetCall *call) {
  DWORD available = 0;
  if (!InternetQueryDataAvailable(call->handle, &available, 0, 0)) return FALSE;
  DWORD size = (available == 0 || available > call->allowance) ? call->allowance : available;
  if (!InternetReadFile(call->handle, call->chunk, size, &call->count)) return FALSE;
  if (call->count > size) call->count = size;
  return TRUE;
}

static DWORD WINAPI RunWinInetCall(LPVOID param) {
  WinInetCall *call = (WinInetCall *)param;
  if (call->kind == CALL_OPEN_URL) {
    call->request = InternetOpenUrlA(call->handle, masterUrl, NULL, 0,
                                     INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    call->succeeded = call->request != NULL;
  } else {
    call->succeeded = ReadAvailable(call);
  }
  call->error = call->succeeded ? 0 : GetLastError();
  SetEvent(call->done);
  ReleaseWinInetCall(call);
  return 0;
}

static DWORD TimeLeft(DWORD start) {
  DWORD elapsed = GetTickCount() - start;
  return elapsed >= masterTransferLimitMs ? 0 : masterTransferLimitMs - elapsed;
}

// Makes the call and waits for it until the deadline of the download that began at start;
// false when the deadline came first. A call whose thread can't be started fails at once.
static bool MakeWinInetCall(WinInetCall *call, DWORD start) {
  DWORD left = TimeLeft(start);
  if (left == 0) return false;
  InterlockedIncrement(&call->references);
  HANDLE thread = CreateThread(NULL, 0, RunWinInetCall, call, 0, NULL);
  if (thread == NULL) {
    call->error = GetLastError();
    InterlockedDecrement(&call->references);
    return true;
  }
  CloseHandle(thread);
  return WaitForSingleObject(call->done, left) == WAIT_OBJECT_0;
}

// False with the call's error, or with ERROR_INTERNET_TIMEOUT at the deadline, as the last error.
static bool OpenMasterUrl(HINTERNET internet, DWORD start, HINTERNET *request) {
  WinInetCall *call = NewWinInetCall(CALL_OPEN_URL, internet);
  if (call == NULL) return false;
  DWORD error = ERROR_INTERNET_TIMEOUT;
  if (MakeWinInetCall(call, start)) {
    *request = call->request;
    call->request = NULL;
    error = call->error;
  }
  ReleaseWinInetCall(call);
  SetLastError(error);
  return *request != NULL;
}

enum ReadEnd { READ_ENDED, READ_TOO_LATE };

// Reads until the body ends, a read fails, the size limit is reached or memory runs out; then
// whatever arrived is the body. At the deadline the body is dropped, as for a failed transfer.
static ReadEnd ReadMasterBody(HINTERNET request, DWORD start, MasterText *body) {
  for (;;) {
    int32_t allowance = MasterReadAllowance(body);
    if (allowance == 0) return READ_ENDED;
    WinInetCall *call = NewWinInetCall(CALL_READ, request);
    if (call == NULL) return READ_ENDED;  // as a failed read
    call->allowance = (DWORD)allowance;
    if (!MakeWinInetCall(call, start)) {
      ReleaseWinInetCall(call);
      return READ_TOO_LATE;
    }
    bool more = call->succeeded && call->count > 0;
    if (call->succeeded) MoveUpdateProgress(3);
    if (more && !AppendMasterChunk(body, call->chunk, (int32_t)call->count)) more = false;
    DWORD error = call->error;
    ReleaseWinInetCall(call);
    if (!more) {
      if (error != 0) SetLastError(error);  // the code a failed first read reports
      return READ_ENDED;
    }
  }
}

static void SetNetworkTimeouts(HINTERNET internet) {
  DWORD timeout = NETWORK_TIMEOUT_MS;
  InternetSetOptionA(internet, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
  InternetSetOptionA(internet, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
}

static void ReceiveMasterList(HINTERNET request, DWORD start) {
  MasterText body = {};
  if (ReadMasterBody(request, start, &body) == READ_TOO_LATE) {
    ReleaseMasterText(&body);
    SetLastError(ERROR_INTERNET_TIMEOUT);
    ReportUpdateError(NULL);
    return;
  }
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
// data keeps coming, which a master can stretch without end. After the deadline the close ends
// the call still waiting (on Windows; under Wine its thread returns when WinInet does). Nothing
// after this touches the table, the dialog or the flag.
static void EndTransfer(HINTERNET request, HINTERNET internet) {
  InterlockedExchange(&updateRunning, 0);
  if (request != NULL) InternetCloseHandle(request);
  if (internet != NULL) InternetCloseHandle(internet);
}

// The deadline runs from the start, so opening the URL and reading the body share it.
static DWORD TransferMasterList(void) {
  const DWORD start = GetTickCount();
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
  HINTERNET request = NULL;
  if (!OpenMasterUrl(internet, start, &request)) {
    ReportUpdateError(NULL);
    EndTransfer(NULL, internet);
    return 1;
  }
  MoveUpdateProgress(2);
  SetUpdateStatus("Receiving data...");
  ReceiveMasterList(request, start);
  EndTransfer(request, internet);
  return 0;
}

DWORD WINAPI FetchMasterList(LPVOID) { return TransferMasterList(); }
