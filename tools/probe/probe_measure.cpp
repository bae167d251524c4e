// The probe's measurements: start-up time, message round trips during a refresh pass, memory and handles.
#include <winsock2.h>

#include "probe.h"

#include <mmsystem.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tlhelp32.h>

enum { MAX_SAMPLES = 200000, DEFAULT_PASS_LIMIT_MS = 60000, PASS_ROWS = 64 };

static const ULONGLONG UNIX_EPOCH_AS_FILETIME = 116444736000000000ULL;  // 1970-01-01 in 100 ns units

static double samples[MAX_SAMPLES];
static int sampleCount;

static ULONGLONG FileTimeValue(const FILETIME &time) {
  return ((ULONGLONG)time.dwHighDateTime << 32) | time.dwLowDateTime;
}

static double NowMs(void) {
  static LARGE_INTEGER frequency;
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return (double)now.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

static unsigned long long UnixMsNow(void) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (FileTimeValue(now) - UNIX_EPOCH_AS_FILETIME) / 10000ULL;
}

// wait-shown [TIMEOUT_MS]: prints "waiting" at once, then polls every millisecond until the
// browser's window is visible and prints when that happened, as Unix time and as time since
// the browser's process was created.
int CmdWaitShown(int argc, char **argv) {
  DWORD timeout = (DWORD)ParseInt(argc > 0 ? argv[0] : NULL, 30000);
  printf("waiting\n");
  fflush(stdout);
  DWORD start = GetTickCount();
  HWND browser = NULL;
  while ((browser = FindBrowser()) == NULL || !IsWindowVisible(browser)) {
    if (Elapsed(start, timeout)) return PROBE_FAILED;
    Sleep(1);
  }
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  printf("shown_unix_ms %llu\n", (FileTimeValue(now) - UNIX_EPOCH_AS_FILETIME) / 10000ULL);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, WindowProcess(browser));
  FILETIME created, exited, kernel, user;
  if (process != NULL && GetProcessTimes(process, &created, &exited, &kernel, &user))
    printf("since_process_start_ms %lld\n",
           (long long)(FileTimeValue(now) - FileTimeValue(created)) / 10000LL);
  if (process != NULL) CloseHandle(process);
  return PROBE_OK;
}

// One WM_NULL round trip in milliseconds, or -1 when the browser did not answer in time.
static double RoundTrip(HWND browser) {
  double start = NowMs();
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(browser, WM_NULL, 0, 0, SMTO_NORMAL, SEND_TIMEOUT_MS, &result)) return -1;
  return NowMs() - start;
}

static void AddSample(double value) {
  if (sampleCount < MAX_SAMPLES) samples[sampleCount++] = value;
}

static int CompareDoubles(const void *a, const void *b) {
  double x = *(const double *)a, y = *(const double *)b;
  return x < y ? -1 : (x > y ? 1 : 0);
}

// "rtt_samples N", "rtt_max_ms", "rtt_median_ms", "rtt_p99_ms"; a missed answer counts as the timeout.
static void PrintRoundTrips(void) {
  printf("rtt_samples %d\n", sampleCount);
  if (sampleCount == 0) return;
  qsort(samples, (size_t)sampleCount, sizeof samples[0], CompareDoubles);
  printf("rtt_max_ms %.2f\n", samples[sampleCount - 1]);
  printf("rtt_median_ms %.2f\n", samples[sampleCount / 2]);
  printf("rtt_p99_ms %.2f\n", samples[(sampleCount * 99) / 100]);
}

enum { SLOW_RTT_MS = 20, MAX_SLOW = 32 };

// The slow round trips and when they began, in ms from the start of the measurement.
static double slowAt[MAX_SLOW], slowRtt[MAX_SLOW];
static int slowCount;

static void TakeRoundTrip(HWND browser, double origin) {
  double began = NowMs();
  double rtt = RoundTrip(browser);
  if (rtt < 0) rtt = (double)SEND_TIMEOUT_MS;
  AddSample(rtt);
  if (rtt >= SLOW_RTT_MS && slowCount < MAX_SLOW) {
    slowAt[slowCount] = began - origin;
    slowRtt[slowCount++] = rtt;
  }
}

// "slow AT_MS RTT_MS" for each round trip of SLOW_RTT_MS or more.
static void PrintSlowRoundTrips(void) {
  for (int i = 0; i < slowCount; i++) printf("slow %.0f %.1f\n", slowAt[i], slowRtt[i]);
}

// rtt [COUNT] [INTERVAL_MS]: COUNT round trips, INTERVAL_MS apart.
int CmdRtt(int argc, char **argv) {
  int count = ParseInt(argc > 0 ? argv[0] : NULL, 100);
  int interval = ParseInt(argc > 1 ? argv[1] : NULL, 5);
  HWND browser = FindBrowser();
  if (browser == NULL || count <= 0) return PROBE_FAILED;
  double origin = NowMs();
  for (int i = 0; i < count; i++) {
    TakeRoundTrip(browser, origin);
    Sleep((DWORD)interval);
  }
  PrintRoundTrips();
  PrintSlowRoundTrips();
  return PROBE_OK;
}

// A window of the probe's own on a thread that does nothing but serve it: its round trips,
// taken beside the browser's, are what Wine and the machine charge a window that never stalls.
static HWND bareWindow;
static double bareWorstMs;

static DWORD WINAPI ServeBareWindow(LPVOID ready) {
  bareWindow = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
  SetEvent((HANDLE)ready);
  MSG msg;
  while (bareWindow != NULL && GetMessageA(&msg, NULL, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}

static void StartBareWindow(void) {
  HANDLE ready = CreateEventA(NULL, TRUE, FALSE, NULL);
  HANDLE thread = ready != NULL ? CreateThread(NULL, 0, ServeBareWindow, ready, 0, NULL) : NULL;
  if (thread != NULL) WaitForSingleObject(ready, 5000), CloseHandle(thread);
  if (ready != NULL) CloseHandle(ready);
}

static void TakeBareRoundTrip(void) {
  double rtt = bareWindow != NULL ? RoundTrip(bareWindow) : 0;
  if (rtt > bareWorstMs) bareWorstMs = rtt;
}

// refresh-rtt [TIMEOUT_MS] [INTERVAL_MS]: starts a refresh pass (the Refresh command, sent, so the
// pass has begun when it returns), takes round trips until the status bar shows the completion
// text, and prints the pass time, its start and end (Unix ms, to match with the lab's log) and
// the round trips, with the worst of those to a bare window taken beside them.
int CmdRefreshRtt(int argc, char **argv) {
  DWORD timeout = (DWORD)ParseInt(argc > 0 ? argv[0] : NULL, DEFAULT_PASS_LIMIT_MS);
  int interval = ParseInt(argc > 1 ? argv[1] : NULL, 2);
  HWND browser = FindBrowser();
  RemoteBuffer remote;
  if (browser == NULL || !OpenRemote(browser, &remote)) return PROBE_FAILED;
  HWND statusBar = FindStatusBar(browser);
  StartBareWindow();
  char text[PROBE_TEXT_SIZE] = "";
  unsigned long long startUnixMs = UnixMsNow();
  double start = NowMs();
  SendBounded(browser, WM_COMMAND, MAKEWPARAM(ID_REFRESH, BN_CLICKED),
              (LPARAM)ChildById(browser, ID_REFRESH));
  bool done = false;
  while (!done && NowMs() - start < (double)timeout) {
    TakeRoundTrip(browser, start);
    TakeBareRoundTrip();
    done = ReadStatusPart(statusBar, &remote, 0, text, sizeof text) && strncmp(text, "Completed.", 10) == 0;
    if (!done) Sleep((DWORD)interval);
  }
  double passMs = NowMs() - start;
  CloseRemote(&remote);
  printf("status %s\n", text);
  printf("pass_ms %.1f\n", passMs);
  printf("start_unix_ms %llu\n", startUnixMs);
  printf("done_unix_ms %llu\n", UnixMsNow());
  PrintRoundTrips();
  PrintSlowRoundTrips();
  printf("bare_rtt_max_ms %.2f\n", bareWorstMs);
  return done ? PROBE_OK : PROBE_FAILED;
}

static int CountThreads(DWORD pid) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == pid) count++;
  CloseHandle(snapshot);
  return count;
}

// The system-wide handle list, as NtQuerySystemInformation(SystemHandleInformation) gives it.
struct HandleEntry {
  ULONG ownerPid;
  BYTE objectType;
  BYTE flags;
  USHORT value;
  PVOID object;
  ACCESS_MASK access;
};
struct HandleTable {
  ULONG count;
  HandleEntry entries[1];
};
typedef LONG(WINAPI *QuerySystemInformation)(ULONG infoClass, PVOID info, ULONG size, PULONG needed);

enum { SYSTEM_HANDLE_INFORMATION = 16, MAX_HANDLE_TABLE = 64 << 20 };

// Wine leaves GetProcessHandleCount at 0 for other processes, so the handles are also counted
// in the system's handle list; -1 when that list is not available either.
static int CountHandlesInSystemList(DWORD pid) {
  QuerySystemInformation query = (QuerySystemInformation)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"),
                                                                                "NtQuerySystemInformation");
  if (query == NULL) return -1;
  for (ULONG size = 1 << 20; size <= MAX_HANDLE_TABLE; size *= 2) {
    HandleTable *table = (HandleTable *)VirtualAlloc(NULL, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (table == NULL) return -1;
    ULONG needed = 0;
    LONG status = query(SYSTEM_HANDLE_INFORMATION, table, size, &needed);
    int count = 0;
    for (ULONG i = 0; status == 0 && i < table->count; i++)
      if (table->entries[i].ownerPid == pid) count++;
    VirtualFree(table, 0, MEM_RELEASE);
    if (status == 0) return count;
  }
  return -1;
}

// memory: the browser's working set and private bytes (now and peak, in KB), handles and threads.
int CmdMemory(int, char **) {
  HWND browser = FindBrowser();
  if (browser == NULL) return PROBE_FAILED;
  DWORD pid = WindowProcess(browser);
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (process == NULL) return PROBE_FAILED;
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(process, &counters, sizeof counters)) {
    printf("working_set_kb %llu\n", (unsigned long long)counters.WorkingSetSize / 1024);
    printf("peak_working_set_kb %llu\n", (unsigned long long)counters.PeakWorkingSetSize / 1024);
    printf("private_kb %llu\n", (unsigned long long)counters.PagefileUsage / 1024);
    printf("peak_private_kb %llu\n", (unsigned long long)counters.PeakPagefileUsage / 1024);
  }
  DWORD handles = 0;
  if (!GetProcessHandleCount(process, &handles)) handles = 0;
  printf("handles %lu\n", (unsigned long)handles);
  printf("handles_in_system_list %d\n", CountHandlesInSystemList(pid));
  printf("threads %d\n", CountThreads(pid));
  CloseHandle(process);
  return PROBE_OK;
}

// One status exchange with a server on 127.0.0.1, timed with the performance counter, the round
// trip that Wine's sockets and scheduling allow, and in *timerMs as the browser times its ping
// (timeGetTime at 1 ms resolution). -1 on no answer.
static double UdpRoundTrip(SOCKET udp, const sockaddr_in &server, DWORD *timerMs) {
  static const char request[] = "\xff\xff\xff\xffstatus";  // and its terminating NUL: 11 bytes
  char reply[8192];
  DWORD timerStart = timeGetTime();
  double start = NowMs();
  if (sendto(udp, request, sizeof request, 0, (const sockaddr *)&server, sizeof server) == SOCKET_ERROR)
    return -1;
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(udp, &readable);
  timeval wait = {2, 0};
  if (select(0, &readable, NULL, NULL, &wait) != 1) return -1;
  if (recv(udp, reply, sizeof reply, 0) == SOCKET_ERROR) return -1;
  double rtt = NowMs() - start;
  *timerMs = timeGetTime() - timerStart;
  return rtt;
}

// udp-ping PORT [COUNT]: COUNT timed status exchanges with 127.0.0.1:PORT, 50 ms apart; the
// rtt_* figures, and every exchange as "exchange QPC_MS TIMER_MS".
int CmdUdpPing(int argc, char **argv) {
  if (argc < 1) return PROBE_USAGE;
  int count = ParseInt(argc > 1 ? argv[1] : NULL, 10);
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return PROBE_FAILED;
  SOCKET udp = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in server = {};
  server.sin_family = AF_INET;
  server.sin_port = htons((u_short)ParseInt(argv[0], 0));
  server.sin_addr.s_addr = inet_addr("127.0.0.1");
  timeBeginPeriod(1);
  for (int i = 0; i < count && udp != INVALID_SOCKET; i++) {
    DWORD timerMs = 0;
    double rtt = UdpRoundTrip(udp, server, &timerMs);
    if (rtt >= 0) AddSample(rtt);
    if (rtt >= 0) printf("exchange %.2f %lu\n", rtt, (unsigned long)timerMs);
    Sleep(50);
  }
  timeEndPeriod(1);
  if (udp != INVALID_SOCKET) closesocket(udp);
  WSACleanup();
  PrintRoundTrips();
  return sampleCount > 0 ? PROBE_OK : PROBE_FAILED;
}

// "NAME_median_ms" and "NAME_max_ms" of the samples taken; the samples are then dropped.
static void PrintSteps(const char *name) {
  if (sampleCount == 0) return;
  qsort(samples, (size_t)sampleCount, sizeof samples[0], CompareDoubles);
  printf("%s_median_ms %.2f\n%s_max_ms %.2f\n", name, samples[sampleCount / 2], name,
         samples[sampleCount - 1]);
  sampleCount = 0;
}

static double threadStartedAt;

static DWORD WINAPI NoteThreadStart(LPVOID) {
  threadStartedAt = NowMs();
  return 0;
}

static LRESULT CALLBACK StepsWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  NMLVDISPINFOA *info = (NMLVDISPINFOA *)lParam;
  if (message == WM_NOTIFY && info->hdr.code == LVN_GETDISPINFOA && (info->item.mask & LVIF_TEXT))
    snprintf(info->item.pszText, (size_t)info->item.cchTextMax, "Bench %d", (int)info->item.iItem);
  return DefWindowProcA(window, message, wParam, lParam);
}

// A window like the browser's: a report list of 16 rows and five columns with texts on demand.
static HWND CreateStepsList(void) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = StepsWindowProc;
  windowClass.lpszClassName = "ProbeSteps";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowA("ProbeSteps", "steps", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 560, 400, NULL,
                              NULL, NULL, NULL);
  HWND list = CreateWindowA(WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT, 5, 5, 540, 200, window,
                            NULL, NULL, NULL);
  LVCOLUMNA column = {};
  column.mask = LVCF_WIDTH | LVCF_TEXT;
  column.cx = 100;
  column.pszText = (LPSTR) "Column";
  for (int i = 0; i < 5; i++) SendMessageA(list, LVM_INSERTCOLUMNA, (WPARAM)i, (LPARAM)&column);
  LVITEMA item = {};
  item.mask = LVIF_TEXT;
  item.pszText = LPSTR_TEXTCALLBACKA;
  for (item.iItem = 0; item.iItem < 16; item.iItem++) SendMessageA(list, LVM_INSERTITEMA, 0, (LPARAM)&item);
  UpdateWindow(window);
  return list;
}

// A row put in at the top of the full list as an answer puts one in: with the list's redraw off
// for the insertion and on again after it, which lays out its scroll bars and headings anew.
static void TimeInsertion(HWND list) {
  LVITEMA item = {};
  item.mask = LVIF_TEXT;
  item.pszText = LPSTR_TEXTCALLBACKA;
  double start = NowMs();
  SendMessageA(list, WM_SETREDRAW, FALSE, 0);
  SendMessageA(list, LVM_INSERTITEMA, 0, (LPARAM)&item);
  SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  AddSample(NowMs() - start);
}

// A pass's rows put one by one into an empty list, each at a random place, and painted at once.
static void TimePassInsertions(HWND list, int rows) {
  SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
  UpdateWindow(list);
  LVITEMA item = {};
  item.mask = LVIF_TEXT;
  item.pszText = LPSTR_TEXTCALLBACKA;
  for (int i = 0; i < rows; i++) {
    item.iItem = (int)(((unsigned)i * 2654435761u >> 16) % (unsigned)(i + 1));
    double start = NowMs();
    SendMessageA(list, LVM_INSERTITEMA, 0, (LPARAM)&item);
    UpdateWindow(list);
    AddSample(NowMs() - start);
  }
}

// The list's vertical scroll bar given one row more, as the list view does for each row put in.
static void TimeScrollBar(HWND list, int i) {
  SCROLLINFO info = {sizeof info, SIF_RANGE | SIF_PAGE, 0, 40 + i, 10, 0, 0};
  double start = NowMs();
  SetScrollInfo(list, SB_VERT, &info, TRUE);
  AddSample(NowMs() - start);
}

// A status part's text that changes each time, as an answer's texts do.
static void TimeStatusText(HWND statusBar, int i) {
  char text[32];
  snprintf(text, sizeof text, "%d Servers", i);
  double start = NowMs();
  SendMessageA(statusBar, SB_SETTEXTA, 2, (LPARAM)text);
  AddSample(NowMs() - start);
}

static void TimePaint(HWND list, const RECT *area) {
  InvalidateRect(list, area, TRUE);
  double start = NowMs();
  UpdateWindow(list);
  AddSample(NowMs() - start);
}

// wine-steps [COUNT]: what this Wine charges a bare program for the steps a refresh pass cannot
// leave out, COUNT times each: a thread from CreateThread to running, a repaint of a list like
// the browser's (one row, the whole list), a row put into it, a 64-server pass's rows put into it
// one by one and painted, its scroll bar given one row more
// and a status bar's text set.
int CmdWineSteps(int argc, char **argv) {
  int count = ParseInt(argc > 0 ? argv[0] : NULL, 20);
  for (int i = 0; i < count; i++) {
    double start = NowMs();
    HANDLE thread = CreateThread(NULL, 0, NoteThreadStart, NULL, 0, NULL);
    if (thread == NULL || WaitForSingleObject(thread, 1000) != WAIT_OBJECT_0) return PROBE_FAILED;
    CloseHandle(thread);
    AddSample(threadStartedAt - start);
  }
  PrintSteps("thread_start");
  HWND list = CreateStepsList();
  RECT row = {LVIR_BOUNDS, 0, 0, 0};
  SendMessageA(list, LVM_GETITEMRECT, 3, (LPARAM)&row);
  for (int i = 0; i < count; i++) TimePaint(list, &row);
  PrintSteps("paint_row");
  for (int i = 0; i < count; i++) TimePaint(list, NULL);
  PrintSteps("paint_list");
  for (int i = 0; i < count; i++) TimeInsertion(list);
  PrintSteps("insert_row");
  TimePassInsertions(list, PASS_ROWS);
  PrintSteps("pass_row");
  for (int i = 0; i < count; i++) TimeScrollBar(list, i);
  PrintSteps("scroll_bar");
  HWND statusBar = CreateWindowA(STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, GetParent(list),
                                 NULL, NULL, NULL);
  int parts[3] = {300, 420, -1};
  SendMessageA(statusBar, SB_SETPARTS, 3, (LPARAM)parts);
  UpdateWindow(statusBar);
  for (int i = 0; i < count; i++) TimeStatusText(statusBar, i);
  PrintSteps("status_text");
  DestroyWindow(GetParent(list));
  return PROBE_OK;
}
