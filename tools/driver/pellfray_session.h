// Driving a running Pellfray.exe from another Wine process, for the
// end-to-end tests and the measuring driver: start it with the port 23 check,
// find its dialog, read its message boxes, and talk to its debug console.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "modulebench/win32/pellfray_resources.h"
#include "tools/driver/gui_driver.h"

namespace pellfray {

constexpr DWORD kStartTimeoutMs = 20000;

// Whether something listens on (or holds) TCP port 23: a bind to it fails.
bool Port23Taken();
// Waits until port 23 is free; false after timeout_ms. Another Pellfray (of
// another test run on this host) may hold it for a while.
bool WaitPort23Free(DWORD timeout_ms);

// Forgets what Pellfray remembers for the user (time stamps, port, speed,
// fields, hex history), as for a user who never ran it.
void ForgetSettings();

// One started Pellfray with its main window and main dialog.
struct Session {
    gui::Program program;
    HWND main = nullptr;
    HWND dialog = nullptr;
    // Start forgets the user's settings first unless this is set (a run
    // that checks what the program remembers).
    bool keep_settings = false;

    // Starts exe and waits for its dialog; false (with why) on failure.
    // Unless told otherwise it first waits for port 23 to be free, so that
    // the program gets its console.
    bool Start(const char *exe, std::string *why, bool wait_for_port23 = true);
    // Closes the main window and waits for the process to end.
    bool Close();
};

// The port list's edit field (the combo box is CBS_DROPDOWN).
HWND PortField(HWND dialog);
// Selects the list entry "COMn"; false when there is none.
bool SelectPort(HWND dialog, uint32_t n);
// Types name into the port field as keystrokes, after emptying it.
void TypePortName(HWND dialog, const std::string &name);

// A message box of process pid (a top-level "#32770"), or null after
// timeout_ms; its text; pressing its OK button.
HWND WaitMessageBox(DWORD pid, DWORD timeout_ms);
std::string MessageBoxText(HWND box);
void PressOk(HWND box);
// True while any message box of pid is shown.
bool MessageBoxShown(DWORD pid);

// A Winsock client of the debug console on 127.0.0.1:23.
class ConsoleClient {
public:
    ConsoleClient();
    ~ConsoleClient();
    ConsoleClient(const ConsoleClient &) = delete;
    ConsoleClient &operator=(const ConsoleClient &) = delete;

    bool Connect();
    bool Send(const std::string &bytes);
    // Reads until count bytes came or timeout_ms passed.
    std::string Read(size_t count, DWORD timeout_ms);
    // Reads whatever comes within ms.
    std::string ReadFor(DWORD ms);

private:
    SOCKET socket_ = INVALID_SOCKET;
    bool started_ = false;
};

} // namespace pellfray
