// Application shell shared by Tarnwick and Pellfray.
//
// Each program is one top-level window holding its main dialog. The shell is
// everything around that dialog: the entry point with the message loop, the
// window class, the main window procedure, the About box and its Alt+? / Alt+/
// accelerators, and the program's own items of the system menu (Pellfray saves
// its log, Tarnwick exports its table, ...). The programs differ only in the
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

// One item of the program's part of the system menu, below a separator
// after the system's own items.
struct SystemMenuItem {
    // Command id: below 0xF000 with the low four bits clear, which
    // WM_SYSCOMMAND uses internally.
    UINT command;
    // String table entry with the item's text (loaded as UTF-16, so Chinese
    // texts show whatever the system's code page).
    UINT text_id;
    // Run on the GUI thread with the main window when the item is chosen.
    void (*run)(HWND main_window);
};

struct ShellValues {
    WORD icon_id;              // class icon, large and small
    int width;                 // outer size of the main window, pixels at 96 DPI
    int height;
    WORD dialog_id;            // main dialog template
    DLGPROC dialog_proc;       // its procedure; the dialog is modeless
    const char *property_name; // window property set to 1 on creation
    void (*on_create)();       // first step of WM_CREATE; may be null
    bool centre;               // centre on the primary screen after on_create
    // The program's system menu items, in menu order; count 0 for none.
    const SystemMenuItem *menu_items;
    int menu_item_count;
    // GUI thread, just before the system menu opens: check marks, grey
    // items, item texts that follow the program's state. May be null.
    void (*on_system_menu)(HWND main_window, HMENU menu);
    // GUI thread, every message the loop takes, before the accelerators:
    // true when the program handled it (a shortcut of its own, the keyboard
    // of a modeless window of its own), and the loop then drops it. May be
    // null.
    bool (*pre_translate)(MSG *message);
    // GUI thread, once, when the message loop has ended and before ShellRun
    // returns (and so before the process's static objects are destroyed).
    // May be null.
    void (*on_exit)();
};

// Instance handle of the program; the main dialog loads its resources with it.
extern HINSTANCE AppInstance;
// The system's DPI (96 at 100 %), read once by ShellRun: the programs are
// system DPI-aware, so every size they give in pixels goes through AppPx.
extern int AppDpi;
// pixels laid out at 96 DPI, at AppDpi (shell/dpi_scale.h).
int AppPx(int pixels);
// The values ShellRun was given; read by the main window procedure.
extern const ShellValues *AppShellValues;
// The main dialog, once the main window has created it. Windows announces
// device changes (a USB adapter plugged in or pulled out) with
// WM_DEVICECHANGE to top-level windows only; the main window passes them on
// to the dialog, whose port list follows the machine.
extern HWND AppMainDialog;

// The body of WinMain: registers the class, creates and shows the main
// window, runs the message loop. Returns 0 when the window cannot be created,
// else the wParam of the final message (the PostQuitMessage code).
int ShellRun(HINSTANCE instance, int show_command, const ShellValues *values);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK AboutBoxProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Centres the window on the primary screen, keeping its size. On a screen
// smaller than the window the left and top edges go negative.
void CentreWindow(HWND window);
