// Pellfray's additions around the main dialog: the find box and copying
// (log_find_win32.h), the HEX发送 helpers and the settings remembered for
// the user.
//
// HEX发送 helpers. Two controls are added at start where the dialog has
// free space, none of the template's moving: the check box 加CRC in the
// band between the log list and the hex field, and a narrow button ▼ right
// of the hex field. With 加CRC ticked the CRC-16/MODBUS of the typed bytes
// goes out after them, high byte first, and the S line shows it. ▼ opens
// the last 20 texts sent, newest first; choosing one puts it in the hex
// field (replacing what is there), where it can be changed before
// HEX发送. The field itself, its keystroke filter and its limits are as
// before.
//
// Settings (pellfray_settings.h for the values and their checks), under
// HKEY_CURRENT_USER\Software\RfidBench\Pellfray, read once at start:
//   - Port and BaudRate are written when the user's own open succeeds; at
//     the next start the port is chosen in the list if the machine still
//     has it (nothing is opened), and the speed is chosen;
//   - HexHistory is written after each send that went out;
//   - Mode, ReaderId, Channel, TagId, SendPeriod and BatteryPeriod are
//     written when the program ends normally, as the controls show them.
// A missing or damaged value leaves the control as the dialog starts it.
// GUI thread only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// End of the dialog's initialisation: the added controls, the find box's
// hooks and the remembered settings.
void AttachLogTools(HWND dialog);

// Every WM_COMMAND control id the dialog does not handle itself.
void OnLogToolsCommand(int id);

// The bytes about to be sent (room for two more): with 加CRC ticked the CRC
// is appended. Returns the count to send.
uint32_t AddChosenCrc(uint8_t *bytes, uint32_t count);

// The hex field's text after a send that went out: first in the history.
void RememberHexText(const char *text, size_t length);

// The dialog's WM_DESTROY (its controls still exist).
void SaveLogToolsSettings(HWND dialog);
