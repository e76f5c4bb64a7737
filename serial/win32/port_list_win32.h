// The port list of either dialog, refilled while the program runs: when the
// user opens it and when Windows announces a device change, so that an
// adapter plugged in later shows up and one pulled out goes.
//
// The ports are found by opening them, as at start-up; the port the program
// has open (or is trying to open again after a loss) is kept in the list
// whatever the probe says, and the entry the user had chosen stays chosen
// when it is still there. In an editable list (Pellfray's) a typed name that
// is not in the list stays in the field. GUI thread only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Replaces the entries of combo with names; keeps the current choice when
// it is among them, else selects entry 0, or in an editable list keeps the
// field's text as it was.
void RefillPortList(HWND combo, const std::vector<std::string> &names, bool editable);

// The text of the list's field or selection, at most 9 characters (what
// the dialogs open).
std::string PortListText(HWND combo);

// The port the user has picked: the selected entry's text, or in an
// editable list with no entry selected the field's text (what was typed).
// Right also inside CBN_SELCHANGE, before the field shows the new entry.
std::string PortListChoice(HWND combo);
