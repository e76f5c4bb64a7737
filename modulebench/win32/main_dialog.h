// Pellfray's main dialog (template 129), created by the shell as a modeless
// child of the main window. Its WM_DESTROY ends the program.
#pragma once

#include <windows.h>

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
