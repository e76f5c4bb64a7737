// What a WM_DEVICECHANGE says about one COM port by name: Windows names the
// port (DBT_DEVTYP_PORT, "COM5") when its device arrives or has been
// removed. The dialogs treat the open port's removal as its loss at once,
// even when its driver still answers calls, and retry a lost port at once
// when its name arrives. The message is a broadcast that Windows sends and
// waits for, so the dialogs act on it by posting to themselves, never by a
// modal box inside it.
#pragma once

#include <windows.h>

#include <string>

enum class PortChange : uint8_t { None, Arrived, Removed };

// The change and, for Arrived and Removed, the port's canonical name.
// Anything else (other device types, other events, a malformed record) is
// None.
PortChange PortChangeOf(WPARAM event, LPARAM record, std::string *name);
