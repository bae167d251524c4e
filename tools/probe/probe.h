// The probe's shared pieces: finding the browser's windows and reading its controls across processes.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include "resource.h"  // the browser's own control ids

#define BROWSER_CLASS "Varnet Server Browser"
#define DIALOG_CLASS "#32770"

enum {
  PROBE_TEXT_SIZE = 1024,  // longest control, cell or status text the probe reads
  SEND_TIMEOUT_MS = 5000,  // every synchronous message to the browser gives up after this
  POLL_MS = 20
};

// Exit codes: 0 done, 1 the browser did not do or show what was asked in time, 2 bad usage.
enum { PROBE_OK = 0, PROBE_FAILED = 1, PROBE_USAGE = 2 };

// A block of memory inside the browser's process: controls there can write into it.
struct RemoteBuffer {
  HANDLE process;
  char *base;
  SIZE_T size;
};

HWND FindBrowser(void);
HWND WaitForBrowser(DWORD timeoutMs);
DWORD WindowProcess(HWND window);
HWND ChildById(HWND parent, int id);
// The visible dialog of the browser's process, or NULL.
HWND FindBrowserDialog(DWORD pid);
bool Elapsed(DWORD start, DWORD limitMs);
int ParseInt(const char *text, int fallback);

bool OpenRemote(HWND window, RemoteBuffer *remote);
void CloseRemote(RemoteBuffer *remote);
bool WriteRemote(RemoteBuffer *remote, SIZE_T offset, const void *data, SIZE_T size);
bool ReadRemote(RemoteBuffer *remote, SIZE_T offset, void *data, SIZE_T size);
// SendMessageTimeout that gives 0 when the browser does not answer within SEND_TIMEOUT_MS.
LRESULT SendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

bool ReadStatusPart(HWND statusBar, RemoteBuffer *remote, int part, char *text, int size);
int ListCount(HWND list);
bool ReadListCell(HWND list, RemoteBuffer *remote, int row, int column, char *text, int size);
int ReadListImage(HWND list, RemoteBuffer *remote, int row, int column);
bool ReadListRect(HWND list, RemoteBuffer *remote, int row, RECT *rect);
bool ReadHeaderRect(HWND list, RemoteBuffer *remote, int column, RECT *rect);
// The browser's status bar: its only child of that class.
HWND FindStatusBar(HWND browser);
bool ReadWindowText(HWND window, char *text, int size);

// Subcommands: each takes its own arguments and returns an exit code.
typedef int (*CommandFunction)(int argc, char **argv);
int CmdFind(int argc, char **argv);
int CmdStatus(int argc, char **argv);
int CmdWaitStatus(int argc, char **argv);
int CmdRows(int argc, char **argv);
int CmdCount(int argc, char **argv);
int CmdItemPoint(int argc, char **argv);
int CmdHeaderPoint(int argc, char **argv);
int CmdText(int argc, char **argv);
int CmdEnabled(int argc, char **argv);
int CmdPress(int argc, char **argv);
int CmdClose(int argc, char **argv);
int CmdHold(int argc, char **argv);
int CmdWaitGone(int argc, char **argv);
int CmdWindows(int argc, char **argv);
int CmdFocus(int argc, char **argv);
int CmdSelect(int argc, char **argv);
int CmdSelected(int argc, char **argv);
int CmdSend(int argc, char **argv);
int CmdDialog(int argc, char **argv);
int CmdDialogGet(int argc, char **argv);
int CmdDialogSet(int argc, char **argv);
int CmdDialogPress(int argc, char **argv);
int CmdDialogCheck(int argc, char **argv);
int CmdWaitShown(int argc, char **argv);
int CmdRtt(int argc, char **argv);
int CmdRefreshRtt(int argc, char **argv);
int CmdMemory(int argc, char **argv);
int CmdClipboard(int argc, char **argv);
int CmdUdpPing(int argc, char **argv);
int CmdWineSteps(int argc, char **argv);
int CmdWindowPoint(int argc, char **argv);
int CmdRect(int argc, char **argv);
int CmdCloseBoxPoint(int argc, char **argv);
int CmdWatch(int argc, char **argv);
int CmdPasses(int argc, char **argv);
