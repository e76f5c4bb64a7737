// Pellfray, the module bench: the shared shell with Pellfray's values around
// the main dialog 129. The main window starts the remote debug console first
// and is centred on the screen when created.
#include <windows.h>

#include "modulebench/console/console.h"
#include "modulebench/win32/batch_window_resources.h"
#include "modulebench/win32/batch_window_win32.h"
#include "modulebench/win32/log_find_win32.h"
#include "modulebench/win32/log_options_win32.h"
#include "modulebench/win32/log_tools_resources.h"
#include "modulebench/win32/main_dialog.h"
#include "modulebench/win32/pellfray_resources.h"
#include "modulebench/win32/recording_win32.h"
#include "modulebench/win32/save_log_win32.h"
#include "shell/win32/app_shell.h"
#include "shell/win32/shell_resources.h"

namespace {

const SystemMenuItem kMenuItems[] = {
    {IDM_SYSTEM_SAVE, IDS_SAVE_COMMAND, SaveTrafficLogCommand},             // 保存日志…
    {IDM_LOG_MILLISECONDS, IDS_LOG_MILLISECONDS, ToggleMillisecondsCommand}, // 毫秒时间
    {IDM_LOG_RECORD, IDS_RECORD_START, ToggleRecordingCommand},            // 开始记录… / 停止记录
    {IDM_BATCH, IDS_BATCH_COMMAND, OpenBatchWindow},                        // 批量配置…
    {IDM_LOG_FIND, IDS_LOG_FIND, OpenLogFindBox},                          // 查找…
};

// The batch window's keys first (Enter and Space there), then the log's
// find keys, which also answer in other Pellfray windows.
bool PellfrayPreTranslate(MSG *message)
{
    return BatchPreTranslate(message) || LogFindPreTranslate(message);
}

// A batch's stop line first, then the port path's threads, then the
// recording of what they logged, then the console they print to.
void StopPellfray()
{
    BatchStopAtExit();
    StopModuleBench();
    StopRecordingAtExit();
    ConsoleStop();
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command)
{
    static const ShellValues values = {
        IDI_PELLFRAY,            // icon
        1021,                    // width
        720,                     // height
        IDD_MODULEBENCH,         // main dialog
        MainDialogProc,          //
        "olsaTest__20200414_NQ", // window property
        ConsoleInit,             // first step of WM_CREATE
        true,                    // centred on the screen
        kMenuItems,              // system menu items
        sizeof kMenuItems / sizeof kMenuItems[0],
        UpdateLogMenu,           // check mark and recording item before the menu opens
        PellfrayPreTranslate,    // the batch window's keys; Ctrl+F, F3, Ctrl+C in the log, the find box's keys
        StopPellfray,            // the port, the worker threads, the recording, the console
    };
    return ShellRun(instance, show_command, &values);
}
