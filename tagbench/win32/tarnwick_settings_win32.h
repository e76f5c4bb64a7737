// Tarnwick's settings remembered for the user (tarnwick_settings.h for the
// values and their checks), under
// HKEY_CURRENT_USER\Software\RfidBench\Tarnwick:
//   - Port and BaudRate are written when the user's own open succeeds
//     (RememberOpenedPort); at the next start the port is chosen in the
//     list if the machine still has it (nothing is opened) and the speed
//     is chosen;
//   - StartId, Quantity, GreenLamp, RedLamp and Buzzer are written when the
//     program ends normally, as the reminder's controls show them.
// A missing or damaged value leaves the control as the dialog starts it.
// GUI thread only.
#pragma once

#include <windows.h>

// End of the dialog's initialisation.
void LoadTarnwickSettings(HWND dialog);

// The dialog's WM_DESTROY (its controls still exist).
void SaveTarnwickSettings(HWND dialog);
