// Application shell shared by Tarnwick and Pellfray.
//
// Each program is one top-level window holding its main dialog. The shell is
// everything around that dialog: the entry point with the message loop, the
// window class, the main window procedure, the About box and its Alt+? / Alt+/
// accelerators, and the program's one item of the system menu (Pellfray saves
// its log, Tarnwick exports its table). The programs differ only in the
// values of ShellValues; their WinMain fills one in and calls ShellRun.
//
// The message loop deliberately does no dialog-manager translation
// (IsDialogMessage): accelerators go to the window the keyboard message was
// addressed to, and Tab does not move between the dialog's controls.
//
// Everything here runs on the GUI thread; the process-wide values are set by
// ShellRun before the main window exists and never change afterwards.
#pragma once

#include <windows.h>

struct ShellValues {
    WORD icon_id;              // class icon, large and small
    int width;                 // outer size of the main window, pixels
    int height;
    WORD dialog_id;            // main dialog template
    DLGPROC dialog_proc;       // its procedure; the dialog is modeless
    const char *property_name; // window property set to 1 on creation
    void (*on_create)();       // first step of WM_CREATE; may be null
    bool centre;               // centre on the primary screen after on_create
    // The program's system menu item (text: string IDS_SAVE_COMMAND), run on
    // the GUI thread with the main window; null for no item.
    void (*on_save_command)(HWND main_window);
};

// Instance handle of the program; the main dialog loads its resources with it.
extern HINSTANCE AppInstance;
// The values ShellRun was given; read by the main window procedure.
extern const ShellValues *AppShellValues;

// The body of WinMain: registers the class, creates and shows the main
// window, runs the message loop. Returns 0 when the window cannot be created,
// else the wParam of the final message (the PostQuitMessage code).
int ShellRun(HINSTANCE instance, int show_command, const ShellValues *values);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK AboutBoxProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Centres the window on the primary screen, keeping its size. On a screen
// smaller than the window the left and top edges go negative.
void CentreWindow(HWND window);
