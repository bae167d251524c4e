// The main window's child controls: two list views, four buttons, the status bar and the image lists.
#include <stdio.h>

#include "settings/settings_win.h"
#include "ui/ui_win.h"
#include "resource.h"
#include "ui/ui.h"

HINSTANCE appInstance;
HWND hwndMain;
HWND hwndServerList;
HWND hwndPlayerList;
HWND hwndStatusBar;
HWND hwndRefreshButton;

static const char *const serverHeaders[SERVER_COLUMNS] = {"Host Name", "Address", "Map", "Players", "Ping"};
static const char *const playerHeaders[PLAYER_COLUMNS] = {"Name", "Score", "Ping"};

void SetStatusText(int part, const char *text) {
  SendMessageA(hwndStatusBar, SB_SETTEXTA, (WPARAM)part, (LPARAM)text);
}

// Wine's status bar repaints itself within every SB_SETTEXT, and an answer sets three texts,
// four with the completion: the bar is held still while they are set and repainted once after,
// as soon as the GUI thread is back in its message loop.
void HoldStatusBar(bool hold) {
  SendMessageA(hwndStatusBar, WM_SETREDRAW, !hold, 0);
  if (!hold) InvalidateRect(hwndStatusBar, NULL, TRUE);
}

// Controls are created without an id and given theirs afterwards through GWL_ID.
static HWND CreateChild(HWND parent, HINSTANCE instance, const char *cls, const char *text, DWORD style,
                        const ControlRect &r, int id) {
  HWND child =
      CreateWindowExA(0, cls, text, style, r.x, r.y, r.width, r.height, parent, NULL, instance, NULL);
  if (child != NULL && id != 0) SetWindowLongPtrA(child, GWLP_ID, id);
  return child;
}

static bool InsertColumns(HWND list, const char *const *headers, const int *widths, int count) {
  for (int i = 0; i < count; i++) {
    LVCOLUMNA column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = widths[i];
    column.pszText = (LPSTR)headers[i];
    column.iSubItem = i;
    if (SendMessageA(list, LVM_INSERTCOLUMNA, (WPARAM)i, (LPARAM)&column) == -1) return false;
  }
  return true;
}

static void CreateButtons(HWND parent, HINSTANCE instance, const MainLayout &layout) {
  const DWORD style = WS_CHILD | WS_VISIBLE;
  CreateChild(parent, instance, "Button", "Exit", style, layout.exitButton, ID_EXIT);
  hwndRefreshButton = CreateChild(parent, instance, "Button", "Refresh", style | WS_DISABLED,
                                  layout.refreshButton, ID_REFRESH);
  CreateChild(parent, instance, "Button", "Config", style, layout.configButton, ID_CONFIG);
  CreateChild(parent, instance, "Button", "Update", style, layout.updateButton, ID_UPDATE);
}

// Each part's icon is drawn for its size at the window's dpi; the one it replaces is ours.
static void SetStatusIcon(int part, int iconId, int width, int height) {
  HANDLE icon = LoadImageA(appInstance, MAKEINTRESOURCEA(iconId), IMAGE_ICON, ScaleToDpi(width, windowDpi),
                           ScaleToDpi(height, windowDpi), LR_DEFAULTCOLOR);
  HICON old = (HICON)SendMessageA(hwndStatusBar, SB_GETICON, (WPARAM)part, 0);
  SendMessageA(hwndStatusBar, SB_SETICON, (WPARAM)part, (LPARAM)icon);
  if (old != NULL) DestroyIcon(old);
}

void SetStatusIcons(void) {
  SetStatusIcon(1, IDI_PLAYER, 16, 14);
  SetStatusIcon(2, IDI_SERVER, 16, 14);
  SetStatusIcon(0, IDI_GLOBE, 14, 14);
}

void SetStatusParts(const MainLayout &layout) {
  int edges[STATUS_PARTS];
  for (int i = 0; i < STATUS_PARTS; i++) edges[i] = layout.statusEdges[i];
  SendMessageA(hwndStatusBar, SB_SETPARTS, STATUS_PARTS, (LPARAM)edges);
}

static void CreateStatusBar(HWND parent, HINSTANCE instance, const MainLayout &layout) {
  hwndStatusBar =
      CreateChild(parent, instance, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE, layout.statusBar, 0);
  SetStatusParts(layout);
  SetStatusIcons();
  SetStatusText(STATUS_PART_MESSAGE, "Updating Server List...");
  SetStatusText(STATUS_PART_PLAYERS, "0 Players");
  SetStatusText(STATUS_PART_SERVERS, "0 Servers");
}

// The dpi the columns' widths are at: the player may have dragged them since they were made.
static int columnsDpi = 96;

// Returns the server list, or NULL when it or one of the columns could not be made; the
// controls made so far stay.
HWND CreateMainControls(HWND hwndParent, HINSTANCE instance) {
  RECT client;
  GetClientRect(hwndParent, &client);
  MainLayout layout;
  ComputeScaledLayout(client.right - client.left, client.bottom - client.top, windowDpi, &layout);

  const DWORD listStyle =
      WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SHAREIMAGELISTS;
  HWND servers = CreateChild(hwndParent, instance, WC_LISTVIEWA, "", listStyle, layout.serverList, 0);
  hwndPlayerList = CreateChild(hwndParent, instance, WC_LISTVIEWA, "", listStyle, layout.playerList, 0);
  SetWindowLongPtrA(hwndPlayerList, GWLP_ID, ID_PLAYER_LIST);
  SetWindowLongPtrA(servers, GWLP_ID, ID_SERVER_LIST);
  CreateButtons(hwndParent, instance, layout);

  const LPARAM extended = LVS_EX_SUBITEMIMAGES | LVS_EX_FULLROWSELECT;
  SendMessageA(servers, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, extended);
  SendMessageA(hwndPlayerList, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, extended);
  if (servers == NULL) return NULL;
  if (!InsertColumns(servers, serverHeaders, layout.serverColumnWidths, SERVER_COLUMNS)) return NULL;
  if (!InsertColumns(hwndPlayerList, playerHeaders, layout.playerColumnWidths, PLAYER_COLUMNS)) return NULL;
  columnsDpi = windowDpi;

  CreateStatusBar(hwndParent, instance, layout);
  InitImageLists(servers);
  // The controls' own fonts are the ones wanted only where everything is at 96 dpi.
  if (windowDpi != 96 || SystemDpi() != 96) SetControlFonts(hwndParent, windowDpi);
  return servers;
}

static HIMAGELIST serverImages, playerImages;

// The icon resource holds a picture drawn for each size the list can have.
static void AddIcon(HIMAGELIST list, int iconId, int width, int height) {
  HICON icon =
      (HICON)LoadImageA(appInstance, MAKEINTRESOURCEA(iconId), IMAGE_ICON, width, height, LR_DEFAULTCOLOR);
  ImageList_ReplaceIcon(list, -1, icon);
  DestroyIcon(icon);
}

// Image indices do not follow the resource ids: 1 green, 2 yellow (139), 3 red (138).
// The lists share their images (LVS_SHAREIMAGELISTS), so the ones replaced here are ours to free.
int InitImageLists(HWND hwndServers) {
  int width = ScaleToDpi(16, windowDpi), height = ScaleToDpi(14, windowDpi);
  HIMAGELIST oldServers = serverImages, oldPlayers = playerImages;
  serverImages = ImageList_Create(width, height, ILC_MASK, 5, 0);
  playerImages = ImageList_Create(width, height, ILC_MASK, 1, 0);
  static const int serverIcons[] = {IDI_SERVER, IDI_PING_GREEN, IDI_PING_YELLOW, IDI_PING_RED};
  for (int id : serverIcons) AddIcon(serverImages, id, width, height);
  AddIcon(playerImages, IDI_PLAYER, width, height);
  SendMessageA(hwndServers, LVM_SETIMAGELIST, LVSIL_SMALL, (LPARAM)serverImages);
  SendMessageA(hwndPlayerList, LVM_SETIMAGELIST, LVSIL_SMALL, (LPARAM)playerImages);
  if (oldServers != NULL) ImageList_Destroy(oldServers);
  if (oldPlayers != NULL) ImageList_Destroy(oldPlayers);
  return 1;
}

static void MoveChild(HWND parent, int id, const ControlRect &r) {
  MoveWindow(GetDlgItem(parent, id), r.x, r.y, r.width, r.height, TRUE);
}

// The widths the columns have, the player's included, scaled to the new dpi.
static void ScaleColumnWidths(HWND list, int count) {
  for (int i = 0; i < count; i++) {
    int width = (int)SendMessageA(list, LVM_GETCOLUMNWIDTH, (WPARAM)i, 0);
    SendMessageA(list, LVM_SETCOLUMNWIDTH, (WPARAM)i, MulDiv(width, windowDpi, columnsDpi));
  }
}

// After a change of dpi: every control, column, status part, font and icon again, at windowDpi.
void LayOutMainControls(HWND parent) {
  HWND servers = GetDlgItem(parent, ID_SERVER_LIST);
  if (servers == NULL || hwndStatusBar == NULL) return;  // not made yet: they will be made at windowDpi
  RECT client;
  GetClientRect(parent, &client);
  MainLayout layout;
  ComputeScaledLayout(client.right - client.left, client.bottom - client.top, windowDpi, &layout);
  SetControlFonts(parent, windowDpi);
  MoveChild(parent, ID_SERVER_LIST, layout.serverList);
  MoveChild(parent, ID_PLAYER_LIST, layout.playerList);
  MoveChild(parent, ID_EXIT, layout.exitButton);
  MoveChild(parent, ID_REFRESH, layout.refreshButton);
  MoveChild(parent, ID_CONFIG, layout.configButton);
  MoveChild(parent, ID_UPDATE, layout.updateButton);
  ScaleColumnWidths(servers, SERVER_COLUMNS);
  ScaleColumnWidths(hwndPlayerList, PLAYER_COLUMNS);
  columnsDpi = windowDpi;
  SendMessageA(hwndStatusBar, WM_SIZE, 0, 0);  // it finds its place and height from the parent
  SetStatusParts(layout);
  SetStatusIcons();
  InitImageLists(servers);
}
