// The five keystroke filters of Pellfray's main dialog: subclass procedures
// of the edits 1008 (reader ID), 1013 (tag ID), 1014 (send period), 1015
// (battery-measure period) and 1016 (hex send text).
//
// Each sees every WM_CHAR before its edit, asks the portable decision
// (input_filters.h) and passes the message on with the code it returned (0
// refuses the key); every other message passes unchanged. Text that arrives
// any other way (paste, WM_SETTEXT) is not filtered. All on the GUI thread.
#pragma once

#include <windows.h>

LRESULT CALLBACK ReaderIdEditProc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK TagIdEditProc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK SendPeriodEditProc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK BatteryPeriodEditProc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK HexSendEditProc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam);

// Subclasses one edit of the dialog with its filter, keeping the previous
// procedure that the filter passes messages on to. Once per edit, during the
// dialog's initialisation.
void InstallReaderIdFilter(HWND dialog);
void InstallTagIdFilter(HWND dialog);
void InstallSendPeriodFilter(HWND dialog);
void InstallBatteryPeriodFilter(HWND dialog);
void InstallHexSendFilter(HWND dialog);
