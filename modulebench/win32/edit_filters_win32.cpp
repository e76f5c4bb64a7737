#include "modulebench/win32/edit_filters_win32.h"

#include <string>

#include "modulebench/input_filters.h"
#include "modulebench/win32/pellfray_resources.h"

namespace {

constexpr WPARAM kBackspace = 0x08;
constexpr WPARAM kSpace = 0x20;

// The edits' own procedures, saved when the filters were installed (GUI
// thread, initialisation) and never changed afterwards.
WNDPROC ReaderIdPrevious;
WNDPROC TagIdPrevious;
WNDPROC SendPeriodPrevious;
WNDPROC BatteryPeriodPrevious;
WNDPROC HexSendPrevious;

LRESULT FilterNumeric(NumericField field, WNDPROC previous, HWND edit, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_CHAR && wparam != kBackspace) {
        // The text as the field holds it, at most 19 characters.
        char text[kNumericTextMax + 1] = {};
        LRESULT length = SendMessageA(edit, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
        if (length < 0)
            length = 0;
        wparam = static_cast<WPARAM>(FilterNumericChar(field, wparam, text, static_cast<size_t>(length)));
    }
    return CallWindowProcA(previous, edit, message, wparam, lparam);
}

WNDPROC Install(HWND dialog, int id, WNDPROC filter)
{
    HWND edit = GetDlgItem(dialog, id);
    return reinterpret_cast<WNDPROC>(SetWindowLongPtrA(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(filter)));
}

} // namespace

LRESULT CALLBACK ReaderIdEditProc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam)
{
    return FilterNumeric(NumericField::ReaderId, ReaderIdPrevious, edit, message, wparam, lparam);
}

LRESULT CALLBACK TagIdEditProc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam)
{
    return FilterNumeric(NumericField::TagId, TagIdPrevious, edit, message, wparam, lparam);
}

LRESULT CALLBACK SendPeriodEditProc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam)
{
    return FilterNumeric(NumericField::SendPeriod, SendPeriodPrevious, edit, message, wparam, lparam);
}

LRESULT CALLBACK BatteryPeriodEditProc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam)
{
    return FilterNumeric(NumericField::BatteryPeriod, BatteryPeriodPrevious, edit, message, wparam, lparam);
}

LRESULT CALLBACK HexSendEditProc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_CHAR && wparam != kBackspace && wparam != kSpace) {
        const LRESULT reported = SendMessageA(edit, WM_GETTEXTLENGTH, 0, 0);
        std::string text(reported > 0 ? static_cast<size_t>(reported) + 1 : 1, '\0');
        LRESULT length = SendMessageA(edit, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
        if (length < 0)
            length = 0;
        text.resize(static_cast<size_t>(length));

        const HexCharDecision decision = FilterHexChar(wparam, text.data(), text.size());
        if (decision.append_space) {
            // The separating space goes in before the key lands; the caret
            // moves to the end, so the key lands there too.
            text.push_back(' ');
            SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
            SendMessageA(edit, EM_SETSEL, text.size(), text.size());
        }
        wparam = static_cast<WPARAM>(decision.code);
    }
    return CallWindowProcA(HexSendPrevious, edit, message, wparam, lparam);
}

void InstallReaderIdFilter(HWND dialog)
{
    ReaderIdPrevious = Install(dialog, IDC_READER_ID, ReaderIdEditProc);
}

void InstallTagIdFilter(HWND dialog)
{
    TagIdPrevious = Install(dialog, IDC_TAG_ID, TagIdEditProc);
}

void InstallSendPeriodFilter(HWND dialog)
{
    SendPeriodPrevious = Install(dialog, IDC_SEND_PERIOD, SendPeriodEditProc);
}

void InstallBatteryPeriodFilter(HWND dialog)
{
    BatteryPeriodPrevious = Install(dialog, IDC_BATTERY_PERIOD, BatteryPeriodEditProc);
}

void InstallHexSendFilter(HWND dialog)
{
    HexSendPrevious = Install(dialog, IDC_HEX_TEXT, HexSendEditProc);
}
