// The port list of either dialog, refilled while the program runs: when the
// user opens it and when Windows announces a device change, so that an
// adapter plugged in later shows up and one pulled out goes.
//
// The start-up list is found by opening every number (serial_link.h); the
// refills read the ports the drivers registered (the SERIALCOMM device map)
// and open none: an open can reset a board whose DTR is wired to reset, get
// in another program's way, and take seconds on a Bluetooth port, and the
// refills run on the GUI thread. The port the program has open (or is
// trying to open again after a loss) is kept in the list whatever the
// registry says, and the entry the user had chosen stays chosen when it is
// still there (names compared without regard to case). When it is not, an
// editable list (Pellfray's) keeps the field's text as it was; a drop-down
// list (Tarnwick's) keeps the choice as an entry marked absent
// ("COM7（不存在）"), so that the next open and every reminder still go to
// the device the user chose and not silently to the first one listed.
// GUI thread only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The ports registered under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM as COMn with
// n from 1 to limit, ascending, into ComPortList and ComPortCount (as
// EnumerateComPorts does, without opening any).
void ListRegisteredComPorts(uint32_t limit);

// Replaces the entries of combo with names; keeps the current choice as
// told above.
void RefillPortList(HWND combo, const std::vector<std::string> &names, bool editable);

// The text of the list's field or selection, at most 9 characters.
std::string PortListText(HWND combo);

// The port to open: the field's or selection's port name, an absent mark
// dropped, "com5" made "COM5", at most 9 characters.
std::string PortListPort(HWND combo);

// The port the user has picked: the selected entry's port, or in an
// editable list with no entry selected the field's (what was typed), as
// PortListPort reads it. Right also inside CBN_SELCHANGE, before the field
// shows the new entry.
std::string PortListChoice(HWND combo);
