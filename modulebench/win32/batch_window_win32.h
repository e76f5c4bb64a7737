// Pellfray's batch configuration window: 批量配置… in the window menu.
//
// A modeless dialog owned by the main window, one at a time (asking again
// brings it forward). It holds the run's fields, the journal's file (chosen
// with Save As at 开始; an existing journal is continued), 手动 / 自动 with
// 自动's pause, and 开始, 下一个 (also Enter and Space anywhere in the window
// while a run goes on), 暂停 / 继续 and 停止; below them one state line, the
// ID armed or next, 已配置 n / N, tags a minute and the journal's newest ten
// rows. The decisions are BatchRun's (modulebench/batch_run.h); this file
// reads the fields, keeps the journal's file, sounds, and wires the run to
// the main dialog, whose 修改 path arms every ID.
//
// Rows go to the file one write each and are flushed to the disk at once
// by the journal's writer thread (batch_journal_win32.h), so the journal
// survives the program being killed and a slow disk never holds up the
// window. A row that cannot be written pauses the run with a message naming
// the file and the reason. Closing the window stops a run as 停止 does;
// closing Pellfray does too (BatchStopAtExit).
//
// Everything runs on the GUI thread, except the processor's report of a
// frame that did not go out, which is handed over by a posted message, and
// the journal's writer.
#pragma once

#include <windows.h>

#include <cstdint>

// System menu item: opens the window, or brings it forward.
void OpenBatchWindow(HWND main_window);

// The shell's pre_translate: the window's keyboard (Enter and Space mean
// 下一个 while a run goes on; Tab between the fields). True when handled.
bool BatchPreTranslate(MSG *message);

// --- hooks of the main dialog ----------------------------------------------

// During the dialog's initialisation, after SetModuleHooks and before the
// threads start: the processor's config_not_sent reaches the run too.
void BatchAttachHooks();
// The processor's answer carrying arming arm went out.
void BatchConfigAnswered(uint32_t arm);
// The port was closed (by the user, or lost) / opened again by itself
// after a loss, in the mode last chosen.
void BatchPortClosed();
void BatchPortResumed();

// At exit (the shell's on_exit): a run still going is stopped with its stop
// line, and the journal's writer is given a bounded time to finish.
void BatchStopAtExit();
