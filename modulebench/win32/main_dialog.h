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

// The chunk processor's thread procedure; started once, never returns.
DWORD WINAPI ChunkProcessorThread(LPVOID unused);
