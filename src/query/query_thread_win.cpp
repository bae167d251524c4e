// The query thread: one server's UDP status exchange, its ping, its row and its status texts.
#include <winsock2.h>

#include <stdio.h>
#include <string.h>

#include "query/query_win.h"
#include "query/reply.h"
#include "ui/ui.h"
#include "ui/ui_win.h"

#include <mmsystem.h>

void (*beforeAnswerSent)(const ServerRecord *record);

enum { MAX_ATTEMPTS = 3, ATTEMPT_WAIT_SECONDS = 1 };

// Everything one query thread owns; it lives on the thread's stack.
struct QueryContext {
  ServerRecord *record;
  SOCKET socket;
  sockaddr_in destination;
  char statusText[STATUS_TEXT_SIZE];  // the latest part-0 text, shown again after a failed receive
  char buffer[RECEIVE_BUFFER_SIZE];
};

static void ShowLatestStatus(const QueryContext *query) {
  SetStatusText(STATUS_PART_MESSAGE, query->statusText);
}

// A dotted address is used as it is; anything else is looked up by name.
static bool FindDestination(QueryContext *query) {
  const ServerRecord *record = query->record;
  query->destination.sin_family = AF_INET;
  query->destination.sin_port = htons(record->port);
  unsigned long address = inet_addr(record->address);
  if (address == INADDR_NONE) {
    snprintf(query->statusText, sizeof query->statusText, "Resolving '%s'...", record->address);
    ShowLatestStatus(query);
    const hostent *host = gethostbyname(record->address);
    if (host == NULL || host->h_addrtype != AF_INET || host->h_length != 4 || host->h_addr_list[0] == NULL) {
      snprintf(query->statusText, sizeof query->statusText, "Couldn't resolve '%s'", record->address);
      ShowLatestStatus(query);
      return false;
    }
    memcpy(&address, host->h_addr_list[0], 4);
  }
  query->destination.sin_addr.s_addr = address;
  reachedAddresses[RecordIndex(record)] = address;  // what a launch connects to, once it answered
  return true;
}

// 1 when the socket is readable, 0 on a time-out, SOCKET_ERROR when select itself fails.
static int WaitReadable(SOCKET socket) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket, &readable);
  timeval wait = {ATTEMPT_WAIT_SECONDS, 0};
  return select(0, &readable, NULL, NULL, &wait);
}

// Returns the length of the answer (0 included: any datagram is an answer), or -1 when the
// server did not answer. A receive that fails, or a wait that fails, uses up its attempt and
// the next one follows at once; a wait never lasts beyond its second, so the whole exchange
// ends within three seconds.
static int ExchangeStatus(QueryContext *query) {
  const ServerRecord *record = query->record;
  for (int attempt = 1; attempt <= MAX_ATTEMPTS; attempt++) {
    TRACE("sendto", RecordIndex(record));
    if (sendto(query->socket, STATUS_QUERY, STATUS_QUERY_SIZE, 0, (const sockaddr *)&query->destination,
               sizeof query->destination) == SOCKET_ERROR) {
      return -1;
    }
    int ready = WaitReadable(query->socket);
    TRACE("readable", RecordIndex(record));
    if (ready == 0) {
      snprintf(query->statusText, sizeof query->statusText, "Retrying %s:%d (attempt %d)", record->address,
               (int)record->port, attempt);
      ShowLatestStatus(query);
      continue;
    }
    if (ready > 0) {
      sockaddr_in from;
      int fromLength = sizeof from;
      int received =
          recvfrom(query->socket, query->buffer, RECEIVE_BUFFER_SIZE, 0, (sockaddr *)&from, &fromLength);
      if (received != SOCKET_ERROR) return received;
    }
    ShowLatestStatus(query);
  }
  return -1;
}

// On the GUI thread: the row and the three texts of one answer. The row's texts come on demand
// from the record, so the row goes in only after the query thread's last write. The counters may
// already include other threads' answers when their texts are made.
void ShowAnswer(const PublishedAnswer *answer) {
  InsertServerRow(RecordIndex(answer->record));
  char text[STATUS_TEXT_SIZE];
  LONG players = playerTotal;
  snprintf(text, sizeof text, "%d Player%s", (int)players, PluralSuffix(players));
  SetStatusText(STATUS_PART_PLAYERS, text);
  LONG servers = respondedCount;
  snprintf(text, sizeof text, "%d Server%s", (int)servers, PluralSuffix(servers));
  SetStatusText(STATUS_PART_SERVERS, text);
  SetStatusText(STATUS_PART_MESSAGE, answer->foundText);
}

// One message to the main window rather than five to its controls: the query thread waits for
// the GUI thread once, and no repaint of the list runs between the row and its texts. The GUI
// thread counts the query down after the row, so the pass can't end before it.
static void PublishAnswer(QueryContext *query) {
  const ServerRecord *record = query->record;
  PublishedAnswer answer = {record, query->statusText};
  InterlockedIncrement(&respondedCount);
  InterlockedExchangeAdd(&playerTotal, record->playerCount);
  snprintf(query->statusText, sizeof query->statusText, "Found %d player%s on '%s'", (int)record->playerCount,
           PluralSuffix(record->playerCount), record->hostName);
  TRACE("publish", RecordIndex(record));
  if (beforeAnswerSent != NULL) beforeAnswerSent(record);
  HWND window = hwndMain;
  if (window != NULL && SendMessageA(window, WM_APP_PASS, PASS_PUBLISH, (LPARAM)&answer)) return;
  CompleteQueryWithoutWindow();  // no window, no row: the controls have gone with it
}

// The ping runs from the first request, so every attempt that timed out adds its second.
static void QueryDestination(QueryContext *query) {
  ServerRecord *record = query->record;
  snprintf(query->statusText, sizeof query->statusText, "Querying %s:%d...",
           inet_ntoa(query->destination.sin_addr), (int)record->port);
  TRACE("querying-text", RecordIndex(record));
  ShowLatestStatus(query);
  TRACE("querying-text-set", RecordIndex(record));
  timeBeginPeriod(1);
  record->queryStartTime = timeGetTime();
  int received = ExchangeStatus(query);
  DWORD answeredAt = timeGetTime();
  if (received < 0) {
    snprintf(query->statusText, sizeof query->statusText, "No response from %s:%d", record->address,
             (int)record->port);
    ShowLatestStatus(query);
    CompleteQuery();
  } else {
    record->ping = (int32_t)(answeredAt - record->queryStartTime);
    ParseStatusReply(record, query->buffer, received);
    PublishAnswer(query);
  }
  timeEndPeriod(1);
}

// A socket that could not be created shows up as a failed send, so it is not tested here.
DWORD WINAPI QueryServer(LPVOID param) {
  QueryContext query;
  memset(&query, 0, sizeof query);  // the receive buffer starts zeroed
  query.record = (ServerRecord *)param;
  TRACE("query-runs", RecordIndex(query.record));
  query.socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (FindDestination(&query))
    QueryDestination(&query);
  else
    CompleteQuery();
  if (query.socket != INVALID_SOCKET) closesocket(query.socket);
  return 0;
}
