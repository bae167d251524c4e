// The configuration dialog driven modally: OK and the close box store, Esc does nothing.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "resource.h"
#include "ui/ui_win.h"

namespace {

typedef std::function<void(HWND)> Step;

// One modal run: each step runs on its own timer tick, so the dialog's own loop (and its
// keyboard handling) runs between steps. A watchdog ends a dialog that never closes.
struct DialogRun {
  std::vector<Step> steps;
  size_t next;
  HWND dialog;
  int idcancelSeen;  // WM_COMMAND IDCANCEL that reached the dialog
};

DialogRun run;
const UINT STEP_MS = 150;
const int WATCHDOG_RESULT = 77;

BOOL CALLBACK FindDialog(HWND window, LPARAM) {
  char name[32];
  GetClassNameA(window, name, sizeof name);
  if (strcmp(name, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
  run.dialog = window;
  return FALSE;
}

void CALLBACK StepTimer(HWND, UINT, UINT_PTR timer, DWORD) {
  run.dialog = NULL;
  EnumThreadWindows(GetCurrentThreadId(), FindDialog, 0);
  if (run.dialog == NULL) return;
  if (run.next >= run.steps.size()) {  // the script should have closed it by now
    KillTimer(NULL, timer);
    EndDialog(run.dialog, WATCHDOG_RESULT);
    return;
  }
  run.steps[run.next++](run.dialog);
}

LRESULT CALLBACK WatchCommands(int code, WPARAM wParam, LPARAM lParam) {
  const CWPSTRUCT *call = (const CWPSTRUCT *)lParam;
  if (code == HC_ACTION && call->message == WM_COMMAND && LOWORD(call->wParam) == IDCANCEL) {
    run.idcancelSeen++;
  }
  return CallNextHookEx(NULL, code, wParam, lParam);
}

INT_PTR RunDialog(const std::vector<Step> &steps) {
  run.steps = steps;
  run.next = 0;
  run.idcancelSeen = 0;
  HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, WatchCommands, NULL, GetCurrentThreadId());
  UINT_PTR timer = SetTimer(NULL, 0, STEP_MS, StepTimer);
  INT_PTR result =
      DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_CONFIG), NULL, ConfigDialogProc, 0);
  KillTimer(NULL, timer);
  UnhookWindowsHookEx(hook);
  return result;
}

void SetField(HWND dialog, int id, const char *text) { SetDlgItemTextA(dialog, id, text); }

std::string Field(HWND dialog, int id) {
  char text[1024];
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

void PressOk(HWND dialog) { SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0); }
void PressCloseBox(HWND dialog) { SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

// The key goes through the dialog's own loop, which turns Esc into IDCANCEL.
void PressEsc(HWND) {
  HWND focus = GetFocus();
  PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  PostMessageA(focus, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

void SetSettings(const char *dir, const char *exe, int32_t method) {
  memset(gameDir, 0, sizeof gameDir);
  memset(gameExe, 0, sizeof gameExe);
  CopyText(gameDir, sizeof gameDir, dir);
  CopyText(gameExe, sizeof gameExe, exe);
  startupMethod = method;
}

TEST(ConfigDialog, OpensWithTheSettingsAndFocusOnOk) {
  SetSettings("D:\\Q2\\", "q2.exe", 2);
  std::string dir, exe, title;
  LRESULT check = -1;
  bool okFocused = false;
  INT_PTR result = RunDialog({[&](HWND d) {
    char text[64];
    GetWindowTextA(d, text, sizeof text);
    title = text;
    dir = Field(d, IDC_GAME_DIR);
    exe = Field(d, IDC_GAME_EXE);
    check = SendDlgItemMessageA(d, IDC_ALT_START, BM_GETCHECK, 0, 0);
    okFocused = GetFocus() == GetDlgItem(d, IDOK);
    PressOk(d);
  }});
  EXPECT_EQ(0, result);
  EXPECT_EQ("Miscellaenous Configuration", title);
  EXPECT_EQ("D:\\Q2\\", dir);
  EXPECT_EQ("q2.exe", exe);
  EXPECT_EQ(BST_INDETERMINATE, check);  // a stored 2 opens indeterminate
  EXPECT_TRUE(okFocused);
  EXPECT_STREQ("D:\\Q2\\", gameDir);  // OK without edits stores what was shown
  EXPECT_STREQ("q2.exe", gameExe);
  EXPECT_EQ(2, startupMethod);
}

TEST(ConfigDialog, OkStoresTheDirectoryWithOneBackslash) {
  struct {
    const char *typed;
    const char *stored;
  } cases[] = {
      {"C:\\Games\\Quake2", "C:\\Games\\Quake2\\"},
      {"C:\\Games\\Quake2\\", "C:\\Games\\Quake2\\"},
      {"", ""},
      {" \"C:\\Games\\Quake 2\" ", "C:\\Games\\Quake 2\\"},  // pasted by "Copy as path"
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.typed);
    SetSettings("C:\\Before\\", "quake2.exe", 0);
    INT_PTR result = RunDialog({[&](HWND d) {
      SetField(d, IDC_GAME_DIR, c.typed);
      SetField(d, IDC_GAME_EXE, " \"other.exe\" ");  // a name is trimmed as a folder is
      PressOk(d);
    }});
    EXPECT_EQ(0, result);
    EXPECT_STREQ(c.stored, gameDir);
    EXPECT_STREQ("other.exe", gameExe);
  }
}

TEST(ConfigDialog, EscLeavesItOpenAndTheCloseBoxKeepsTheEdits) {
  SetSettings("C:\\Before\\", "before.exe", 0);
  bool openAfterEsc = false;
  INT_PTR result = RunDialog({
      [](HWND d) {
        SetField(d, IDC_GAME_DIR, "C:\\Games\\Quake2");
        SetField(d, IDC_GAME_EXE, "q2.exe");
        SendDlgItemMessageA(d, IDC_ALT_START, BM_CLICK, 0, 0);
        PressEsc(d);
      },
      [&](HWND d) {
        openAfterEsc = IsWindowVisible(d) != FALSE;
        PressCloseBox(d);
      },
  });
  EXPECT_EQ(1, run.idcancelSeen);  // Esc did arrive, as IDCANCEL
  EXPECT_TRUE(openAfterEsc);
  EXPECT_EQ(0, result);
  EXPECT_STREQ("C:\\Games\\Quake2\\", gameDir);
  EXPECT_STREQ("q2.exe", gameExe);
  EXPECT_EQ(1, startupMethod);
}

TEST(ConfigDialog, EscAloneChangesNothing) {
  SetSettings("C:\\Kept\\", "kept.exe", 1);
  INT_PTR result = RunDialog({[](HWND d) {
                                SetField(d, IDC_GAME_DIR, "C:\\Typed");
                                PressEsc(d);
                              },
                              [](HWND) {}});
  EXPECT_EQ(WATCHDOG_RESULT, result);  // only the watchdog could end it
  EXPECT_STREQ("C:\\Kept\\", gameDir);
  EXPECT_STREQ("kept.exe", gameExe);
  EXPECT_EQ(1, startupMethod);
}

// Each click moves the three-state box on: clear, checked, indeterminate, clear.
TEST(ConfigDialog, CheckBoxStatesStoreZeroOneTwo) {
  const int32_t expected[] = {0, 1, 2, 0};
  for (int clicks = 0; clicks < 4; clicks++) {
    SCOPED_TRACE(clicks);
    SetSettings("", "quake2.exe", 0);
    RunDialog({[&](HWND d) {
      for (int i = 0; i < clicks; i++) SendDlgItemMessageA(d, IDC_ALT_START, BM_CLICK, 0, 0);
      PressOk(d);
    }});
    EXPECT_EQ(expected[clicks], startupMethod);
  }
}

TEST(ConfigDialog, EmptiedExecutableStaysEmpty) {
  SetSettings("C:\\Q2\\", "quake2.exe", 0);
  RunDialog({[](HWND d) {
    SetField(d, IDC_GAME_EXE, "");
    PressCloseBox(d);
  }});
  EXPECT_STREQ("", gameExe);  // the default returns only at the next start
  EXPECT_STREQ("C:\\Q2\\", gameDir);
}

// Typing stops at 258 characters, so the added backslash always fits in gameDir.
TEST(ConfigDialog, DirectoryFieldTakes258TypedCharacters) {
  SetSettings("", "quake2.exe", 0);
  LRESULT limit = 0;
  size_t typed = 0;
  RunDialog({[&](HWND d) {
    HWND edit = GetDlgItem(d, IDC_GAME_DIR);
    limit = SendMessageA(edit, EM_GETLIMITTEXT, 0, 0);
    for (int i = 0; i < 300; i++) SendMessageA(edit, WM_CHAR, 'q', 1);
    typed = Field(d, IDC_GAME_DIR).size();
    PressOk(d);
  }});
  EXPECT_EQ(258, limit);
  EXPECT_EQ(258u, typed);
  EXPECT_EQ(std::string(258, 'q') + "\\", gameDir);
}

// A 259-character directory without a backslash can only come from the registry; the stored
// setting still ends with one and stays within its 260 bytes.
TEST(ConfigDialog, LongestStoredDirectoryKeepsItsBackslash) {
  std::string stored(259, 'r');
  SetSettings(stored.c_str(), "quake2.exe", 0);
  std::string shown;
  RunDialog({[&](HWND d) {
    shown = Field(d, IDC_GAME_DIR);
    PressOk(d);
  }});
  EXPECT_EQ(stored, shown);
  EXPECT_EQ(259u, strnlen(gameDir, sizeof gameDir));
  EXPECT_EQ('\\', gameDir[258]);
}

// A name with a character outside the ANSI code page is refused with a box, not stored as a
// look-alike ("quake\uFF12.exe" would become "quake2.exe") or with a '?'; the dialog stays open.
TEST(ConfigDialog, NameWithoutAnExactAnsiFormIsRefused) {
  SetSettings("C:\\Q2\\", "kept.exe", 0);
  std::string box, kept;
  RunDialog({[](HWND d) {
               SetDlgItemTextW(d, IDC_GAME_EXE, L"quake\uFF12.exe");
               PostMessageA(GetDlgItem(d, IDOK), BM_CLICK, 0, 0);
             },
             [&](HWND b) {
               box = Field(b, 0xFFFF);
               kept = gameExe;
               SendMessageA(b, WM_COMMAND, IDOK, 0);
             },
             [](HWND d) {
               SetField(d, IDC_GAME_EXE, "q2.exe");
               PressOk(d);
             }});
  EXPECT_EQ(0u, box.find("This name can't be used:")) << box;
  EXPECT_EQ("kept.exe", kept);
  EXPECT_STREQ("q2.exe", gameExe);  // from the dialog that stayed open
}

TEST(ConfigDialog, OtherCommandsAreNotHandled) {
  SetSettings("C:\\Kept\\", "kept.exe", 0);
  INT_PTR handled = -1;
  RunDialog({[&](HWND d) {
    SetField(d, IDC_GAME_DIR, "C:\\Typed");
    handled = ConfigDialogProc(d, WM_COMMAND, MAKEWPARAM(IDC_GAME_DIR, EN_CHANGE), 0);
    PressOk(d);
  }});
  EXPECT_EQ(FALSE, handled);
  EXPECT_STREQ("C:\\Typed\\", gameDir);
}

}  // namespace
