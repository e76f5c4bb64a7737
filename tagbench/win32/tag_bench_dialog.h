// Tarnwick's main dialog (template 131): the whole working surface.
//
// The shell creates it as a modeless child of the main window. It starts the
// worker threads when it initialises, opens and closes the port, drives the
// two timers (1: ageing and repaint every 1000 ms; 2: reminder frames every
// 100 ms, both only while the port is open) and shows the tag table twelve
// tags a page in a fixed grid of 13 x 6 owner-drawn static cells laid over a
// background bitmap whose dark rectangle shows through the gaps as lines.
//
// Everything here runs on the GUI thread; the worker threads never touch a
// window. Table contents are read only through SnapshotTag (one short locked
// copy per row); all formatting and window calls happen outside TableLock.
#pragma once

#include <windows.h>

#include "tagbench/tag_table.h"

// Ids of the 78 grid cells in display order: the six header cells, then rows
// 0 to 11, each left to right.
constexpr int kGridCellCount = 78;
extern const int GridCellIds[kGridCellCount];

INT_PTR CALLBACK TagBenchDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// The three status labels: reader indicator, total and offline counts.
void ShowStatus(int32_t connected, int32_t total, int32_t offline);
// One grid row (0 to 11); any other row number does nothing.
void ShowTagRow(int row, const TagRowSnapshot &snapshot);
// Status labels and the twelve rows of page PageIndex.
void RefreshPage();
// Timer 1: ages the table and repaints, while capturing.
void OnSecondTick();
// The display part of ResetTagBench: labels back to "未连接", 0, 0; rows empty.
void ClearDisplay();

// At exit (the shell's on_exit, after the message loop): closes the port
// and stops the worker threads, in order, waiting a bounded time for each.
void StopTagBench();

// Worker thread procedures started by the dialog's initialisation.
DWORD WINAPI TagTableThread(LPVOID unused);
DWORD WINAPI FrameAssemblerThread(LPVOID unused);
