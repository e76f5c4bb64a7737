// Pellfray's main dialog. For now the dialog carries no controls: it only
// ends the program with the main window.
#include "modulebench/win32/main_dialog.h"

INT_PTR CALLBACK MainDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return FALSE;
    default:
        return FALSE;
    }
}
