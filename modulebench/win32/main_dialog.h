// Pellfray's main dialog (template 129), created by the shell as a modeless
// child of the main window; the whole user interface of the module bench.
//
// Runs on the GUI thread. Its initialisation starts the two worker threads of
// the port path (the serial receive thread and the chunk processor) and
// connects the portable core to the port, the log and the console through
// the module hooks. Its WM_DESTROY ends the program.
#pragma once

#include <windows.h>

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Reads, parses and sends the hex text of the send field (edit 1016).
void SendHexText(HWND edit);

// The chunk processor's thread procedure; returns once stopped at exit.
DWORD WINAPI ChunkProcessorThread(LPVOID unused);

// At exit (the shell's on_exit, after the message loop): closes the port
// and stops the receive thread and the chunk processor, in order, waiting a
// bounded time for each.
void StopModuleBench();
