// Pellfray's recording on disk (the writer: modulebench/traffic_recording.h).
//
// 开始记录… in the system menu asks for a file (Save As, default name
// pellfray-record-YYYYMMDD-HHMMSS.log), opens it and from then on every log
// line and note goes into it as it is logged, with millisecond time; the
// title bar says that a recording runs and into which file. 停止记录 (the
// same item while a recording runs) ends it; so does closing the program.
// A write that fails (disk full, folder gone) ends the recording with a
// message naming the file and the system's reason; the log, the port and
// everything else go on as before.
//
// The menu command, the title and the messages are the GUI thread's; lines
// come from whichever thread logs them and only wait for the queue's lock.
#pragma once

#include <windows.h>

#include <string>

#include "modulebench/traffic_log.h"

// Any thread: a recording runs and takes lines.
bool RecordingActive();
// Any thread: one whole line (UTF-8, millisecond time, CR LF) logged at
// local time now.
void RecordLine(const SYSTEMTIME &now, const LogStamp &time, std::string text);

// GUI thread: 开始记录… / 停止记录 from the system menu.
void ToggleRecordingCommand(HWND main_window);
// GUI thread, when the program ends: the recording is closed cleanly, or,
// when its disk has stalled, as far as it got after at most 2 s.
void StopRecordingAtExit();
