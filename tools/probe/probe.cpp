// The probe's entry: picks the subcommand; each prints plain lines that a shell script can parse.
#include <stdio.h>
#include <string.h>

#include "probe.h"

struct Command {
  const char *name;
  CommandFunction run;
  const char *usage;
};

static const Command commands[] = {
    {"find", CmdFind,
     "find [TIMEOUT_MS]                 wait for the window: \"window HWND pid PID visible 0|1\""},
    {"status", CmdStatus,
     "status [PART]                     status bar: every part as \"N<TAB>TEXT\", or one part's text"},
    {"wait-status", CmdWaitStatus,
     "wait-status PART PREFIX [TIMEOUT_MS]  until the part starts with PREFIX; prints it"},
    {"rows", CmdRows,
     "rows servers|players              \"ROW<TAB>CELL...\"; server rows end with the ping image"},
    {"count", CmdCount, "count servers|players             number of rows"},
    {"item-point", CmdItemPoint,
     "item-point LIST ROW               \"X Y\" on screen, middle of the row's first cell"},
    {"header-point", CmdHeaderPoint,
     "header-point LIST COLUMN          \"X Y\" on screen, middle of the column header"},
    {"window-point", CmdWindowPoint,
     "window-point [ID]                 \"X Y\" on screen, middle of the status bar or of that control"},
    {"closebox-point", CmdCloseBoxPoint,
     "closebox-point                    \"X Y\" on screen, middle of the caption's close box"},
    {"rect", CmdRect, "rect                              the main window on screen: \"X Y WIDTH HEIGHT\""},
    {"text", CmdText, "text ID                           text of the main window's control"},
    {"enabled", CmdEnabled, "enabled ID                        1 or 0"},
    {"press", CmdPress, "press ID [TIMEOUT_MS]             click the main window's button (posted)"},
    {"hold", CmdHold, "hold PATH read|none MS [ID]       hold a file open MS ms (then press ID)"},
    {"clipboard", CmdClipboard, "clipboard                         the clipboard's text"},
    {"close", CmdClose, "close [dialog]                    WM_CLOSE to the main window or the open dialog"},
    {"wait-gone", CmdWaitGone, "wait-gone [TIMEOUT_MS]            until the main window no longer exists"},
    {"focus", CmdFocus,
     "focus                             the control with the keyboard focus: \"ID<TAB>CLASS\" or \"none\""},
    {"select", CmdSelect, "select LIST ROW                   select the row with LVM_SETITEMSTATE alone"},
    {"selected", CmdSelected,
     "selected LIST                     \"ROW MARK\": the first selected row (or -1) and the selection mark"},
    {"send", CmdSend, "send MESSAGE [WPARAM] [LPARAM]    send the main window a message; prints its result"},
    {"windows", CmdWindows,
     "windows                           \"HWND<TAB>CLASS<TAB>VISIBLE<TAB>TITLE\" per top-level window"},
    {"dialog", CmdDialog,
     "dialog [TITLE] [TIMEOUT_MS]       wait for the open dialog; \"title T\", \"owner main|none|other\", "
     "then \"ID<TAB>CLASS<TAB>TEXT\""},
    {"dialog-get", CmdDialogGet, "dialog-get ID                     text of the dialog's control"},
    {"dialog-set", CmdDialogSet, "dialog-set ID TEXT                set the dialog control's text"},
    {"dialog-press", CmdDialogPress, "dialog-press ID                   click the dialog's button (posted)"},
    {"dialog-check", CmdDialogCheck, "dialog-check ID [STATE]           set and/or print a check box state"},
    {"wait-shown", CmdWaitShown,
     "wait-shown [TIMEOUT_MS]           \"waiting\", then when the window became visible"},
    {"rtt", CmdRtt, "rtt [COUNT] [INTERVAL_MS]         WM_NULL round trips: rtt_samples/max/median/p99"},
    {"refresh-rtt", CmdRefreshRtt,
     "refresh-rtt [TIMEOUT_MS] [INTERVAL_MS]  Refresh, round trips until \"Completed.\", pass_ms"},
    {"udp-ping", CmdUdpPing,
     "udp-ping PORT [COUNT]             timed status exchanges with 127.0.0.1:PORT: rtt_* figures"},
    {"wine-steps", CmdWineSteps,
     "wine-steps [COUNT]                a thread's start, a list's repaint and insertion, bare"},
    {"watch", CmdWatch,
     "watch TIMEOUT_MS COMPLETIONS [SETTLE_MS]  each change of part 0, rows, Refresh: \"T_MS ROWS ENABLED "
     "TEXT\""},
    {"passes", CmdPasses,
     "passes COUNT [BURST] [SETTLE_MS] [TIMEOUT_MS]  Refresh passes back to back: one \"pass N ...\" line "
     "each"},
    {"memory", CmdMemory,
     "memory                            working set, private bytes (KB), handles, threads"},
};

static void PrintUsage(void) {
  fprintf(stderr, "usage: probe COMMAND [ARGS]   (acts on the window \"%s\")\n", BROWSER_CLASS);
  for (const Command &command : commands) fprintf(stderr, "  %s\n", command.usage);
}

int main(int argc, char **argv) {
  if (argc < 2) {
    PrintUsage();
    return PROBE_USAGE;
  }
  for (const Command &command : commands) {
    if (strcmp(argv[1], command.name) != 0) continue;
    int status = command.run(argc - 2, argv + 2);
    if (status == PROBE_USAGE) fprintf(stderr, "usage: probe %s\n", command.usage);
    fflush(stdout);
    return status;
  }
  PrintUsage();
  return PROBE_USAGE;
}
