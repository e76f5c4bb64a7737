// The batch journal's file on the disk, written by a thread of its own.
//
// Every row is written in one write and flushed to the disk at once, so the
// journal survives the program being killed or the power going. A flush can
// take long (a USB stick, a network share, a busy disk), and the batch
// window must keep answering meanwhile: the GUI thread only queues the
// bytes, and the writer thread writes and flushes them in order. A write
// that fails is posted to the window that was named, with the system's error
// code as wParam; the rows after it are still tried.
//
// The file is opened (created if need be) on the GUI thread when the batch
// starts, so that a file that cannot be opened is reported at once; the
// writer then owns the handle until the close queued after the stop line.
// A row queued after that (an answer that was already on its way) opens the
// file again for itself.
#pragma once

#include <windows.h>

#include <string>

// GUI thread: opens path for appending and writes prefix (the mark and
// header of a new journal, or a line end after a cut row) in one write,
// flushed. 0, or the system's error (nothing then stays open).
DWORD JournalFileOpen(const std::wstring &path, const std::string &prefix);
// GUI thread: bytes to append, in order; a failure is posted to window as
// message (wParam: the error).
void JournalFileAppend(const std::string &bytes, HWND window, UINT message);
// GUI thread: close the file once everything queued is written.
void JournalFileClose();
// At exit: waits up to timeout_ms until everything queued is written; false
// when the writer is still busy.
bool JournalFileDrain(DWORD timeout_ms);
