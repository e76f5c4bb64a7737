// Pellfray's main dialog (template 129), created by the shell as a modeless
// child of the main window; the whole user interface of the module bench.
//
// Runs on the GUI thread. Its initialisation starts the two worker threads of
// the port path (the serial receive thread and the chunk processor) and
// connects the portable core to the port, the log and the console through
// the module hooks. Its WM_DESTROY ends the program.
#pragma once

#include <windows.h>

#include <cstdint>

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Reads, parses and sends the hex text of the send field (edit 1016).
void SendHexText(HWND edit);

// The chunk processor's thread procedure; returns once stopped at exit.
DWORD WINAPI ChunkProcessorThread(LPVOID unused);

// At exit (the shell's on_exit, after the message loop): closes the port
// and stops the receive thread and the chunk processor, in order, waiting a
// bounded time for each.
void StopModuleBench();

// The batch configuration (batch_window_win32.h) arms through 修改's own
// path, so that the dialog shows the values armed, locked, with 等待生效.
// GUI thread.
// The ID and periods as if typed and 修改 pressed (unlocking first what is
// locked): the arming's number, 0 when the dialog cannot arm (no port open,
// not in tag mode).
uint32_t ArmTagConfigForBatch(uint32_t id, int32_t send_period, int32_t battery_period);
// As a second 修改 would, if arm is still the dialog's current arming.
void DisarmTagConfigForBatch(uint32_t arm);
// arm is armed or answered, and the fields are still locked on it.
bool TagConfigArmCurrent(uint32_t arm);
// A port is open in tag mode.
bool ReadyForBatch();
