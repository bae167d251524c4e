// The display scale of the main window: its dpi, and the fonts its controls show at it.
#include "ui/ui_win.h"

int windowDpi = 96;

// Fonts made for a dpi other than the system's; the controls show their own fonts until then.
static HFONT buttonFont, listFont, statusFont;

typedef UINT(WINAPI *DpiForWindowProc)(HWND);
typedef HRESULT(WINAPI *DpiForMonitorProc)(HMONITOR, int, UINT *, UINT *);
enum { EFFECTIVE_DPI = 0 };  // MDT_EFFECTIVE_DPI

int SystemDpi(void) {
  HDC screen = GetDC(NULL);
  int dpi = screen != NULL ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
  if (screen != NULL) ReleaseDC(NULL, screen);
  return dpi > 0 ? dpi : 96;
}

// Windows 8.1 and Windows 10 before 1607 have a dpi per monitor but no GetDpiForWindow; shcore.dll,
// whose GetDpiForMonitor says it, is not loaded by the program until asked for.
static int MonitorDpi(HWND window) {
  static HMODULE shcore = LoadLibraryExA("shcore.dll", NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
  static DpiForMonitorProc dpiForMonitor =
      shcore != NULL ? (DpiForMonitorProc)(void (*)(void))GetProcAddress(shcore, "GetDpiForMonitor") : NULL;
  UINT x = 0, y = 0;
  if (dpiForMonitor == NULL ||
      dpiForMonitor(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), EFFECTIVE_DPI, &x, &y) != S_OK)
    return 0;
  return (int)x;
}

// Windows 7 has no dpi per monitor (nor either function): there every window has the system's.
int WindowDpi(HWND window) {
  static DpiForWindowProc dpiForWindow =
      (DpiForWindowProc)(void (*)(void))GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow");
  int dpi = dpiForWindow != NULL ? (int)dpiForWindow(window) : MonitorDpi(window);
  return dpi > 0 ? dpi : SystemDpi();
}

// The system's fonts are made at the system's dpi: the same font at another is scaled from it.
static HFONT ScaledFont(LOGFONTA font, int dpi) {
  int system = SystemDpi();
  font.lfHeight = MulDiv(font.lfHeight, dpi, system);
  font.lfWidth = MulDiv(font.lfWidth, dpi, system);
  return CreateFontIndirectA(&font);
}

static void DeleteFont(HFONT font) {
  if (font != NULL) DeleteObject(font);
}

// The buttons show the bold system font, 16 pixels high and 7 wide on average at 96 dpi. Wine
// reports that width at every dpi, and a font made from it comes out squeezed; from 96 dpi's
// numbers it keeps the look it has at 96 dpi. At any other dpi the System font, a bitmap font
// on Windows, would be stretched or swapped for a nearby size: the buttons get the message
// font's TrueType face, bold as the System font is, at the scaled height.
static HFONT ButtonFont(int dpi, const NONCLIENTMETRICSA *metrics) {
  LOGFONTA font = {};
  GetObjectA(GetStockObject(SYSTEM_FONT), sizeof font, &font);
  font.lfHeight = MulDiv(16, dpi, 96);
  font.lfWidth = MulDiv(7, dpi, 96);
  if (dpi != 96) {
    LONG weight = font.lfWeight;
    font = metrics->lfMessageFont;
    font.lfHeight = MulDiv(16, dpi, 96);
    font.lfWidth = 0;
    font.lfWeight = weight;
    font.lfOutPrecision = OUT_TT_ONLY_PRECIS;
  }
  return CreateFontIndirectA(&font);
}

// What the controls show by themselves: buttons the system font, list views (and their headers)
// the icon title font, the status bar the status font of the non-client metrics.
void SetControlFonts(HWND parent, int dpi) {
  HFONT oldButton = buttonFont, oldList = listFont, oldStatus = statusFont;
  LOGFONTA iconTitle = {};
  NONCLIENTMETRICSA metrics = {};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoA(SPI_GETICONTITLELOGFONT, sizeof iconTitle, &iconTitle, 0);
  SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  buttonFont = ButtonFont(dpi, &metrics);
  listFont = ScaledFont(iconTitle, dpi);
  statusFont = ScaledFont(metrics.lfStatusFont, dpi);
  static const int buttons[] = {ID_EXIT, ID_REFRESH, ID_CONFIG, ID_UPDATE};
  for (int id : buttons) SendMessageA(GetDlgItem(parent, id), WM_SETFONT, (WPARAM)buttonFont, TRUE);
  SendMessageA(GetDlgItem(parent, ID_SERVER_LIST), WM_SETFONT, (WPARAM)listFont, TRUE);
  SendMessageA(GetDlgItem(parent, ID_PLAYER_LIST), WM_SETFONT, (WPARAM)listFont, TRUE);
  SendMessageA(hwndStatusBar, WM_SETFONT, (WPARAM)statusFont, TRUE);
  DeleteFont(oldButton);
  DeleteFont(oldList);
  DeleteFont(oldStatus);
}
