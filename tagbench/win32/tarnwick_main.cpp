// Tarnwick, the tag-reader bench: the shared shell with Tarnwick's values
// around the main dialog 131.
#include <windows.h>

#include "shell/win32/app_shell.h"
#include "shell/win32/shell_resources.h"
#include "tagbench/win32/acceptance_win32.h"
#include "tagbench/win32/export_table_win32.h"
#include "tagbench/win32/tag_bench_dialog.h"
#include "tagbench/win32/tag_find_win32.h"
#include "tagbench/win32/tag_accept_resources.h"
#include "tagbench/win32/tag_follow_resources.h"
#include "tagbench/win32/tarnwick_resources.h"

namespace {

const SystemMenuItem kMenuItems[] = {
    {IDM_SYSTEM_SAVE, IDS_SAVE_COMMAND, ExportTagTableCommand}, // 导出标签表…
    {IDM_SYSTEM_FIND, IDS_FIND_COMMAND, OpenFindBox},           // 查找标签…
    {IDM_SYSTEM_ACCEPT, IDS_ACCEPT_COMMAND, OpenAcceptanceWindow}, // 批量验收…
};

// The keyboards of the find box and the batch check window.
bool PreTranslate(MSG *message)
{
    return TarnwickPreTranslate(message) || AcceptancePreTranslate(message);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command)
{
    static const ShellValues values = {
        IDI_TARNWICK,           // icon
        958,                    // width
        639,                    // height
        IDD_TAGBENCH,           // main dialog
        TagBenchDialogProc,     //
        "Quorvel__20190109_NQ", // window property
        nullptr,                // nothing else on WM_CREATE
        false,                  // placed by the system
        kMenuItems,              // system menu items
        sizeof kMenuItems / sizeof kMenuItems[0],
        nullptr,                 // nothing to update before the menu opens
        PreTranslate,            // Ctrl+F, the find box's and the batch check's keys
        StopTagBench,            // the port and the worker threads
    };
    return ShellRun(instance, show_command, &values);
}
