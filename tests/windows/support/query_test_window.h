// A window with the real controls a refresh pass talks to, and a log of what reaches them.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <stdint.h>

#include <string>
#include <vector>

enum QueryEventKind { QUERY_EVENT_STATUS, QUERY_EVENT_ENABLE, QUERY_EVENT_INSERT, QUERY_EVENT_SORT };
enum { QUERY_EVENT_TEXT_SIZE = 512, QUERY_EVENT_LIMIT = 2048 };

// One message as the control received it on the GUI thread, with the state at that moment.
struct QueryEvent {
  int kind;
  WPARAM wParam;                     // as sent (STATUS: part and drawing type; SORT: sort parameter)
  LPARAM lParam;                     // SORT: the comparison function
  char text[QUERY_EVENT_TEXT_SIZE];  // STATUS: the text
  LVITEMA item;                      // INSERT: the item as sent
  int result;                        // INSERT: the row the list view gave the item
  bool rowsAscendingByPing;          // INSERT, SORT: the rows' pings after the message
  int32_t serverSortColumn;          // the global when the message arrived
  bool buttonEnabled;                // the Refresh button when the message arrived (ENABLE: new state)
  int rowCount;                      // server-list rows when the message arrived
  DWORD time;                        // timeGetTime() on arrival
};

extern QueryEvent queryEvents[QUERY_EVENT_LIMIT];
extern int queryEventCount;
// WM_APP_PASS messages the main window has served.
extern volatile LONG passMessagesServed;

// Called on the GUI thread when the Refresh button is being enabled, while the thread that
// enables it waits inside EnableWindow for the GUI thread to serve WM_ENABLE.
extern void (*onRefreshEnabled)(void);

// Creates the window once per process (main window, server list, player list, 3-part status
// bar, Refresh button) and assigns hwndMain and the control globals. The GUI thread is the
// caller's thread.
bool CreateQueryTestWindow(void);
// Empties both lists, the status texts and the log, and enables the Refresh button, as after
// an earlier completed pass.
void ResetQueryTestWindow(void);

// Part-0/1/2 texts, in the order they arrived, that contain `fragment`.
std::vector<std::string> StatusTexts(int part, const std::string &fragment);
int CountStatus(int part, const std::string &text);
// Index of the first event at or after `from` that set `part` to exactly `text`, or -1.
int FindStatus(int part, const std::string &text, int from = 0);
int FindEvent(int kind, int from = 0);

std::string StatusBarText(int part);
int ServerRowCount(void);
int PlayerRowCount(void);
LPARAM ServerRowRecord(int row);
// The cell text as the list view shows it (asked from the main window through LVN_GETDISPINFO).
std::string ServerCellText(int row, int column);
// Adds a player-list row, so a test can see the list being emptied.
void AddPlayerRow(void);

// Empties the table and appends one record per address and port, as a master list would.
void UseServers(const char *const *addresses, const uint16_t *ports, int count);
// Starts a pass on this (the GUI) thread and pumps until it has completed; false on time-out.
bool RunPass(DWORD timeoutMs);
// Pumps until no pass is running and the coordinator of the last pass has surely ended.
void SettlePass(void);
