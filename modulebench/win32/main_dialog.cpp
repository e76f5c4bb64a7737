// Pellfray's main dialog: start-up, the four states (Closed, Reader,
// TagEditing, TagLocked), the port button, the two modes, the transparent
// mode switch, arming a tag configuration, the hex send and the log clear.
//
// The states are not stored as such: PortOpen and ConfigLocked together with
// the radio marks decide them, and every handler leaves the enabled controls
// as the state table asks. The tag configuration itself is armed through
// ConfigPending, which the chunk processor consumes when the tag wakes up.
#include "modulebench/win32/main_dialog.h"

#include <commctrl.h>

#include <cstdio>
#include <initializer_list>
#include <string>

#include "modulebench/chunk_queue.h"
#include "modulebench/config_frames.h"
#include "modulebench/console/console.h"
#include "modulebench/hex_text.h"
#include "modulebench/input_filters.h"
#include "modulebench/module_hooks.h"
#include "modulebench/traffic_log.h"
#include "modulebench/win32/edit_filters_win32.h"
#include "modulebench/win32/pellfray_resources.h"
#include "modulebench/win32/traffic_log_win32.h"
#include "serial/win32/serial_link.h"

namespace {

// The speed list's entries (kBaudChoiceTexts) and the entry selected at
// start: 115200.
constexpr int kDefaultBaud = 3;

// The port list's text is read into 10 bytes: at most 9 characters.
constexpr int kPortNameSize = 10;
// The hex field is read into 1024 bytes.
constexpr int kHexTextSize = 1024;

// Dialog state; GUI thread only.
HWND Dialog;
bool PortOpen;
bool ConfigLocked;

// --- the core's way out ----------------------------------------------------

void ConsolePrintText(const char *text)
{
    ConsolePrintf("%s", text);
}

void StartThread(LPTHREAD_START_ROUTINE procedure)
{
    // Started once and never stopped; the handle is not needed.
    HANDLE thread = CreateThread(nullptr, 0, procedure, nullptr, 0, nullptr);
    if (thread != nullptr)
        CloseHandle(thread);
}

void Enable(int id, bool on)
{
    EnableWindow(GetDlgItem(Dialog, id), on ? TRUE : FALSE);
}

void EnableAll(std::initializer_list<int> ids, bool on)
{
    for (int id : ids)
        Enable(id, on);
}

void ShowMessage(const char *text)
{
    MessageBoxA(Dialog, text, nullptr, MB_OK);
}

// The whole text of a control, however long (pasted text may be).
std::string ControlText(int id)
{
    HWND control = GetDlgItem(Dialog, id);
    const int length = GetWindowTextLengthA(control);
    if (length <= 0)
        return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const int got = GetWindowTextA(control, &text[0], length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

// Reads a numeric field as it is about to be used; shows why and returns
// false when its value may not go out.
bool ReadField(int id, NumericField field, int32_t *value)
{
    const std::string text = ControlText(id);
    const FieldValue checked = CheckNumericField(field, text.data(), text.size());
    if (checked.check == FieldCheck::Empty) {
        ShowMessage(NumericFieldEmptyText(field));
        return false;
    }
    if (checked.check == FieldCheck::OutOfRange) {
        ShowMessage(NumericFieldRangeText(field));
        return false;
    }
    *value = checked.value;
    return true;
}

// --- start-up --------------------------------------------------------------

void FillPortList()
{
    ExpandComPortMask(EnumerateComPortMask());
    HWND list = GetDlgItem(Dialog, IDC_PORT_LIST);
    for (uint32_t i = 0; i < ComPortCount; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "COM%u", static_cast<unsigned>(ComPortList[i]));
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    }
    // With no port found nothing is selected (CB_SETCURSEL 0 fails).
    SendMessageA(list, CB_SETCURSEL, 0, 0);
}

void InitDialog(HWND dialog)
{
    Dialog = dialog;
    TrafficLogAttach(dialog);

    INITCOMMONCONTROLSEX icc = {8, 0xFF};
    InitCommonControlsEx(&icc);

    ModuleHooks hooks = {};
    hooks.serial_write = SerialWrite;
    hooks.log_received = LogReceived;
    hooks.log_sent = LogSent;
    hooks.show_config_status = ShowConfigStatus;
    hooks.console_print = ConsolePrintText;
    SetModuleHooks(hooks);

    // The receive thread idles until a port opens, so the queue may be
    // emptied after it started and before its consumer exists.
    SerialConfigure(SerialFlavor::Pellfray, ChunkReceiveSink);
    StartThread(SerialReceiveThread);
    ChunkQueueInit();
    StartThread(ChunkProcessorThread);

    FillPortList();

    HWND baud = GetDlgItem(dialog, IDC_BAUD_LIST);
    for (const char *text : kBaudChoiceTexts)
        SendMessageA(baud, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    SendMessageA(baud, CB_SETCURSEL, kDefaultBaud, 0);

    SendDlgItemMessageA(dialog, IDC_READER_MODE, BM_SETCHECK, 1, 0);
    SendDlgItemMessageA(dialog, IDC_TAG_MODE, BM_SETCHECK, 0, 0);
    EnableAll({IDC_READER_MODE, IDC_TAG_MODE}, false);

    HWND channel = GetDlgItem(dialog, IDC_CHANNEL_LIST);
    for (int i = 0; i < kChannelChoiceCount; ++i) {
        char text[4];
        std::snprintf(text, sizeof text, "%d", i);
        SendMessageA(channel, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    SendMessageA(channel, CB_SETCURSEL, 0, 0);

    SetDlgItemTextA(dialog, IDC_CREATE_TIMEOUT, "10");
    SetDlgItemTextA(dialog, IDC_EXIT_TIMEOUT, "30");

    InstallReaderIdFilter(dialog);
    EnableAll({IDC_READER_ID, IDC_CHANNEL_LIST, IDC_TRANSPARENT, IDC_HEX_SEND, IDC_MODIFY}, false);
    InstallTagIdFilter(dialog);
    InstallSendPeriodFilter(dialog);
    InstallBatteryPeriodFilter(dialog);

    ShowConfigStatus(kStatusNotConfigured);
    ConfigLocked = false;

    ResetTrafficCounters();
    InstallHexSendFilter(dialog);

    // Said once, in the log where the user looks; the program runs on
    // without its console.
    if (ConsoleStartProblem()[0] != '\0')
        LogNote(ConsoleStartProblem());
}

// --- handlers --------------------------------------------------------------

void OnReaderMode()
{
    EnableAll({IDC_READER_ID, IDC_CHANNEL_LIST, IDC_TRANSPARENT}, true);
    EnableAll({IDC_TAG_ID, IDC_SEND_PERIOD, IDC_BATTERY_PERIOD, IDC_MODIFY}, false);
    ShowConfigStatus(kStatusNotConfigured);
    ConfigLocked = false;
    ConfigPending.store(false, std::memory_order_release);
}

void OnTagMode()
{
    EnableAll({IDC_READER_ID, IDC_CHANNEL_LIST, IDC_TRANSPARENT}, false);
    EnableAll({IDC_TAG_ID, IDC_SEND_PERIOD, IDC_BATTERY_PERIOD, IDC_MODIFY}, true);
}

void ClosePort()
{
    PortOpen = false;
    // A receive thread waiting for room in the queue gives up its read now
    // rather than after its bound.
    ChunkQueueStopWaiting();
    SerialClose();
    // Chunks still queued from the closed port are processed unlogged.
    RequestSkipRxLog();
    SetDlgItemTextA(Dialog, IDC_PORT_BUTTON, "打开串口");
    EnableAll({IDC_READER_MODE, IDC_TAG_MODE, IDC_READER_ID, IDC_CHANNEL_LIST, IDC_TRANSPARENT, IDC_TAG_ID,
               IDC_SEND_PERIOD, IDC_BATTERY_PERIOD, IDC_MODIFY},
              false);
    // An armed frame stays armed until the next opening clears it.
    ShowConfigStatus(kStatusNotConfigured);
    ConfigLocked = false;
    Enable(IDC_HEX_SEND, false);
}

void OpenPort()
{
    // A name typed into the list's field is used like a listed one.
    char name[kPortNameSize] = {};
    GetWindowTextA(GetDlgItem(Dialog, IDC_PORT_LIST), name, sizeof name);
    char path[kPortNameSize + 8];
    std::snprintf(path, sizeof path, "\\\\.\\%s", name);

    // The field's text, picked or typed, must be one of the list's speeds.
    uint32_t baud_index = 0;
    if (!BaudIndexForText(ControlText(IDC_BAUD_LIST).c_str(), &baud_index)) {
        ShowMessage(kBaudChoiceText);
        return;
    }

    ChunkQueueAllowWaiting();
    if (!SerialOpen(path, baud_index))
        return;
    PortOpen = true;
    ConfigPending.store(false, std::memory_order_release);
    SetDlgItemTextA(Dialog, IDC_PORT_BUTTON, "关闭串口");
    EnableAll({IDC_READER_MODE, IDC_TAG_MODE}, true);
    // Back into the mode that was last chosen, through its own handler.
    const bool reader = SendDlgItemMessageA(Dialog, IDC_READER_MODE, BM_GETCHECK, 0, 0) == 1;
    SendDlgItemMessageA(Dialog, reader ? IDC_READER_MODE : IDC_TAG_MODE, BM_CLICK, 0, 0);
    Enable(IDC_HEX_SEND, true);
}

void OnTransparentMode()
{
    int32_t id = 0;
    if (!ReadField(IDC_READER_ID, NumericField::ReaderId, &id))
        return;
    // Picked or typed, the channel must be one of the list's.
    int32_t channel = 0;
    if (!ChannelForText(ControlText(IDC_CHANNEL_LIST).c_str(), &channel)) {
        ShowMessage(kChannelChoiceText);
        return;
    }
    RequestSkipRxLog();
    SendReaderFrame(id, channel);
}

void OnModify()
{
    if (ConfigLocked) {
        ShowConfigStatus(kStatusNotConfigured);
        ConfigLocked = false;
        ConfigPending.store(false, std::memory_order_release);
        EnableAll({IDC_TAG_ID, IDC_SEND_PERIOD, IDC_BATTERY_PERIOD}, true);
        return;
    }
    int32_t id = 0;
    int32_t send_period = 0;
    int32_t battery_period = 0;
    // Each field whole, in this order; the first that may not go out is
    // reported and nothing is armed.
    if (!ReadField(IDC_TAG_ID, NumericField::TagId, &id) ||
        !ReadField(IDC_SEND_PERIOD, NumericField::SendPeriod, &send_period) ||
        !ReadField(IDC_BATTERY_PERIOD, NumericField::BatteryPeriod, &battery_period))
        return;
    // The frame is complete before the flag hands it to the processor.
    BuildTagConfigFrame(id, send_period, battery_period);
    ConfigPending.store(true, std::memory_order_release);
    ConfigLocked = true;
    ShowConfigStatus(kStatusWaiting);
    EnableAll({IDC_TAG_ID, IDC_SEND_PERIOD, IDC_BATTERY_PERIOD}, false);
}

void OnCommand(int id)
{
    switch (id) {
    case IDC_PORT_BUTTON:
        if (PortOpen)
            ClosePort();
        else
            OpenPort();
        break;
    case IDC_READER_MODE:
        OnReaderMode();
        break;
    case IDC_TAG_MODE:
        OnTagMode();
        break;
    case IDC_TRANSPARENT:
        OnTransparentMode();
        break;
    case IDC_MODIFY:
        OnModify();
        break;
    case IDC_CLEAR_LOG:
        ClearTrafficLog();
        break;
    case IDC_HEX_SEND:
        SendHexText(GetDlgItem(Dialog, IDC_HEX_TEXT));
        break;
    default:
        break;
    }
}

} // namespace

DWORD WINAPI ChunkProcessorThread(LPVOID)
{
    ChunkProcessorLoop(nullptr);
    return 0;
}

void SendHexText(HWND edit)
{
    char text[kHexTextSize] = {};
    const LRESULT length = SendMessageA(edit, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    if (length <= 0)
        return;
    uint8_t bytes[kHexMaxBytes];
    const HexParseResult parsed = ParseHexText(text, static_cast<size_t>(length), bytes);
    if (parsed.format_error) {
        // Nothing of a text that is not hex is sent.
        MessageBoxA(GetParent(edit), kHexFormatErrorText, nullptr, MB_OK);
        return;
    }
    if (parsed.count == 0)
        return;
    SerialWrite(bytes, parsed.count);
    LogSent(parsed.count, bytes);
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        OnCommand(LOWORD(wparam));
        return 0;
    case kLogLineMessage:
        TrafficLogOnMessage();
        return TRUE;
    case WM_TIMER:
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return FALSE;
    }
}
