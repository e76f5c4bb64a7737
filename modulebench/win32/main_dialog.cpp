// Pellfray's main dialog: start-up, the four states (Closed, Reader,
// TagEditing, TagLocked), the port button, the two modes, the transparent
// mode switch, arming a tag configuration, the hex send and the log clear.
//
// The states are not stored as such: PortOpen and ConfigLocked together with
// the radio marks decide them, and every handler leaves the enabled controls
// as the state table asks. The tag configuration itself is armed through
// ConfigPending, which the chunk processor consumes when the tag wakes up.
//
// A port that vanishes while open (a pulled adapter) is closed as the user's
// close would close it, reported once in a box and in the log, and tried
// again once a second (the retry timer); when it opens again the dialog
// carries on at the same speed in the mode last chosen, through the same
// steps as an open. Windows's word that the open port was removed counts as
// such a loss at once, and its word that the lost port arrived retries at
// once.
#include "modulebench/win32/main_dialog.h"

#include <commctrl.h>

#include <cstdio>
#include <initializer_list>
#include <string>

#include "modulebench/chunk_queue.h"
#include "modulebench/config_frames.h"
#include "modulebench/console/console.h"
#include "modulebench/hex_send_extras.h"
#include "modulebench/hex_text.h"
#include "modulebench/input_filters.h"
#include "modulebench/module_hooks.h"
#include "modulebench/sent_frames.h"
#include "modulebench/traffic_log.h"
#include "modulebench/win32/batch_window_win32.h"
#include "modulebench/win32/edit_filters_win32.h"
#include "modulebench/win32/log_tools_win32.h"
#include "modulebench/win32/pellfray_resources.h"
#include "modulebench/win32/traffic_log_win32.h"
#include "serial/port_keeper.h"
#include "serial/port_names.h"
#include "serial/win32/port_change_win32.h"
#include "serial/win32/port_list_win32.h"
#include "serial/win32/serial_link.h"
#include "shell/win32/settings_win32.h"

namespace {

// The speed list's entries (kBaudChoiceTexts) and the entry selected at
// start: 115200.
constexpr int kDefaultBaud = 3;

// The port list's text is read into 10 bytes: at most 9 characters.
constexpr int kPortNameSize = 10;
// The hex field is read into 1024 bytes.
constexpr int kHexTextSize = 1024;

// Runs only while a lost port is being tried again.
constexpr UINT_PTR kRetryTimer = 16;
constexpr UINT kRetryTimerMs = 1000;
// Posted by the receive thread when its port stopped answering (wParam: the
// port's generation), and by the processor when it answered a wake-up frame
// (wParam: the arming it sent).
constexpr UINT kPortLostMessage = WM_APP + 16;
constexpr UINT kConfigAnsweredMessage = WM_APP + 17;
// How long the exit waits for each worker thread to end.
constexpr DWORD kThreadStopWaitMs = 2000;

// Dialog state; GUI thread only.
HWND Dialog;
bool PortOpen;
bool ConfigLocked;
// The port the user opened, kept across a loss.
PortKeeper Keeper;
// The receive thread and the chunk processor, kept for the exit.
HANDLE ReceiveThread;
HANDLE ProcessorThread;

// --- the core's way out ----------------------------------------------------

void ConsolePrintText(const char *text)
{
    ConsolePrintf("%s", text);
}

// Processor thread.
void PostConfigAnswered(uint32_t arm)
{
    PostMessageA(Dialog, kConfigAnsweredMessage, arm, 0);
}

// Receive thread.
void PostPortLost(uint32_t generation)
{
    PostMessageA(Dialog, kPortLostMessage, generation, 0);
}

HANDLE StartThread(LPTHREAD_START_ROUTINE procedure)
{
    return CreateThread(nullptr, 0, procedure, nullptr, 0, nullptr);
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

// The port list as the machine has it now; the port open or being retried
// stays in it. At start-up by opening every number; refills read the
// registered ports and open none.
void FillPortList(bool probe)
{
    if (probe)
        ExpandComPortMask(EnumerateComPortMask());
    else
        ListRegisteredComPorts(32);
    const std::string keep = Keeper.IsOpen() || Keeper.IsRetrying() ? Keeper.Name() : std::string();
    RefillPortList(GetDlgItem(Dialog, IDC_PORT_LIST), PortListNames(ComPortList, ComPortCount, keep), true);
}

void InitDialog(HWND dialog)
{
    Dialog = dialog;
    TrafficLogAttach(dialog);

    INITCOMMONCONTROLSEX icc = {8, 0xFF};
    InitCommonControlsEx(&icc);

    ModuleHooks hooks = {};
    hooks.serial_write = SerialWriteReport;
    hooks.log_received = LogReceived;
    hooks.log_sent = LogSent;
    hooks.config_answered = PostConfigAnswered;
    hooks.console_print = ConsolePrintText;
    hooks.log_note = LogNote;
    SetModuleHooks(hooks);
    BatchAttachHooks();

    // The receive thread idles until a port opens, so the queue may be
    // emptied after it started and before its consumer exists.
    SerialConfigure(SerialFlavor::Pellfray, ChunkReceiveSink);
    SerialSetEvents(SerialEvents{ChunkQueueLineErrors, PostPortLost});
    ReceiveThread = StartThread(SerialReceiveThread);
    ChunkQueueInit();
    ProcessorThread = StartThread(ChunkProcessorThread);

    FillPortList(true);
    // With no port found nothing is selected (CB_SETCURSEL 0 fails).
    SendDlgItemMessageA(dialog, IDC_PORT_LIST, CB_SETCURSEL, 0, 0);

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
    AttachLogTools(dialog);
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

// Everything the user's close does; the loss of the port does the same.
void StopUsingPort()
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
    BatchPortClosed();
}

void ClosePort()
{
    Keeper.Forget();
    KillTimer(Dialog, kRetryTimer);
    StopUsingPort();
}

SerialOpenResult OpenNamed(const std::string &name, uint32_t baud_index)
{
    char path[kPortNameSize + 8];
    std::snprintf(path, sizeof path, "\\\\.\\%s", name.c_str());
    ChunkQueuePortOpening();
    return SerialOpenChecked(path, baud_index);
}

// The open's steps once the port is open: the user's open and a resume.
void ShowPortOpen()
{
    PortOpen = true;
    SetDlgItemTextA(Dialog, IDC_PORT_BUTTON, "关闭串口");
    EnableAll({IDC_READER_MODE, IDC_TAG_MODE}, true);
    // Back into the mode that was last chosen, through its own handler
    // called here: a synthesised click is not delivered reliably to an
    // inactive window and would move the focus.
    if (SendDlgItemMessageA(Dialog, IDC_READER_MODE, BM_GETCHECK, 0, 0) == BST_CHECKED)
        OnReaderMode();
    else
        OnTagMode();
    Enable(IDC_HEX_SEND, true);
}

void OpenPort()
{
    // A name typed into the list's field is used like a listed one.
    const std::string name = PortListPort(GetDlgItem(Dialog, IDC_PORT_LIST));
    // The field's text, picked or typed, must be one of the list's speeds.
    uint32_t baud_index = 0;
    if (!BaudIndexForText(ControlText(IDC_BAUD_LIST).c_str(), &baud_index)) {
        ShowMessage(kBaudChoiceText);
        return;
    }

    // The user's own open ends the retries of a lost port, whatever it opens.
    Keeper.Forget();
    KillTimer(Dialog, kRetryTimer);
    const SerialOpenResult opened = OpenNamed(name, baud_index);
    if (opened == SerialOpenResult::Refused)
        ShowMessage(PortRefusedText(name, BaudRateForIndex(baud_index)).c_str());
    if (opened == SerialOpenResult::Failed)
        ShowMessage(PortOpenFailureText(name, SerialLastOpenError()).c_str());
    if (opened != SerialOpenResult::Opened)
        return;
    Keeper.Opened(name.c_str(), baud_index, SerialPortGeneration());
    RememberOpenedPort(name, BaudRateForIndex(baud_index));
    ShowPortOpen();
}

// --- a port that vanished ---------------------------------------------------

void PortLost(uint32_t generation)
{
    if (!Keeper.Lost(generation))
        return; // a port the user closed or replaced meanwhile
    StopUsingPort();
    LogNote(PortLostNote(Keeper.Name()).c_str());
    SetTimer(Dialog, kRetryTimer, kRetryTimerMs, nullptr);
    if (!Keeper.TakeBox())
        return; // one box at a time, however often the adapter flickers
    ShowMessage(PortLostText(Keeper.Name()).c_str());
    Keeper.BoxClosed();
}

// The retry timer, and any device change while retrying.
void TryResume()
{
    if (!Keeper.IsRetrying()) {
        KillTimer(Dialog, kRetryTimer);
        return;
    }
    if (OpenNamed(Keeper.Name(), Keeper.BaudIndex()) != SerialOpenResult::Opened)
        return;
    KillTimer(Dialog, kRetryTimer);
    Keeper.Resumed(SerialPortGeneration());
    LogNote(PortResumedNote(Keeper.Name(), BaudRateForIndex(Keeper.BaudIndex())).c_str());
    ShowPortOpen();
    BatchPortResumed();
}

// Windows waits for this broadcast, so a loss found here is posted: its
// box comes up after the broadcast has returned.
void OnDeviceChange(WPARAM event, LPARAM record)
{
    if (SendDlgItemMessageA(Dialog, IDC_PORT_LIST, CB_GETDROPPEDSTATE, 0, 0) == 0)
        FillPortList(false);
    // The open port's removal is its loss, even while its driver still
    // answers; a driver that does not end a pending wait when its device
    // goes is caught by asking it.
    std::string name;
    const PortChange change = PortChangeOf(event, record, &name);
    if (Keeper.IsOpen() && ((change == PortChange::Removed && Keeper.IsOpenPort(name)) || !SerialPortAnswers()))
        PostPortLost(SerialPortGeneration());
    // Any change may be the lost port's return, its arrival by name above all.
    if (Keeper.IsRetrying())
        TryResume();
}

void OnPortListNotice(int code)
{
    HWND list = GetDlgItem(Dialog, IDC_PORT_LIST);
    bool ended = false;
    if (code == CBN_DROPDOWN)
        FillPortList(false);
    else if (code == CBN_SELCHANGE)
        ended = Keeper.Chose(PortListChoice(list).c_str());
    else if (code == CBN_EDITCHANGE)
        ended = Keeper.Chose(PortListText(list).c_str());
    if (ended)
        KillTimer(Dialog, kRetryTimer);
}

void OnConfigAnswered(uint32_t arm)
{
    // The frame went out: a batch counts its ID as given whatever happened
    // to the arming since.
    BatchConfigAnswered(arm);
    // The arming the answer carried must still be the one the label
    // stands for, on a port that is still open.
    if (PortOpen && ConfigPending.IsCurrent(arm))
        ShowConfigStatus(kStatusConfigured);
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

} // namespace

// --- the batch configuration arms through 修改 ------------------------------

uint32_t ArmTagConfigForBatch(uint32_t id, int32_t send_period, int32_t battery_period)
{
    const bool tag = SendDlgItemMessageA(Dialog, IDC_TAG_MODE, BM_GETCHECK, 0, 0) == 1;
    if (!PortOpen || !tag)
        return 0;
    if (ConfigLocked)
        OnModify(); // unlocks, as a first press would
    SetDlgItemInt(Dialog, IDC_TAG_ID, id, FALSE);
    SetDlgItemInt(Dialog, IDC_SEND_PERIOD, static_cast<UINT>(send_period), FALSE);
    SetDlgItemInt(Dialog, IDC_BATTERY_PERIOD, static_cast<UINT>(battery_period), FALSE);
    OnModify();
    return ConfigLocked ? ConfigPending.Current() : 0;
}

void DisarmTagConfigForBatch(uint32_t arm)
{
    if (ConfigLocked && ConfigPending.IsCurrent(arm))
        OnModify();
}

bool TagConfigArmCurrent(uint32_t arm)
{
    return ConfigLocked && ConfigPending.IsCurrent(arm);
}

bool ReadyForBatch()
{
    return PortOpen && SendDlgItemMessageA(Dialog, IDC_TAG_MODE, BM_GETCHECK, 0, 0) == 1;
}

namespace {

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
        OnLogToolsCommand(id);
        break;
    }
}

} // namespace

DWORD WINAPI ChunkProcessorThread(LPVOID)
{
    ChunkProcessorLoop(&ChunkProcessorStop);
    return 0;
}

namespace {

void WaitAndClose(HANDLE *thread)
{
    if (*thread == nullptr)
        return;
    WaitForSingleObject(*thread, kThreadStopWaitMs);
    CloseHandle(*thread);
    *thread = nullptr;
}

} // namespace

void StopModuleBench()
{
    // In order: the receive thread may wait for room in the queue (ended by
    // ChunkQueueStopWaiting) or for the port (ended with the port); the
    // processor then has nothing more coming.
    Keeper.Forget();
    ChunkQueueStopWaiting();
    SerialStopReceiveThread();
    WaitAndClose(&ReceiveThread);
    RequestChunkProcessorStop();
    WaitAndClose(&ProcessorThread);
}

void SendHexText(HWND edit)
{
    char text[kHexTextSize] = {};
    const LRESULT length = SendMessageA(edit, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    if (length <= 0)
        return;
    uint8_t bytes[kHexSendCapacity];
    const HexParseResult parsed = ParseHexText(text, static_cast<size_t>(length), bytes);
    if (parsed.format_error) {
        // Nothing of a text that is not hex is sent.
        MessageBoxA(GetParent(edit), kHexFormatErrorText, nullptr, MB_OK);
        return;
    }
    if (parsed.count == 0)
        return;
    const uint32_t count = AddChosenCrc(bytes, parsed.count);
    // Logged as what became of the write: the bytes that went out, and a
    // note when not all did. Only a text that went out is kept for again.
    if (WriteWentOut(SendAndLog(SentFrame::HexText, bytes, count)))
        RememberHexText(text, static_cast<size_t>(length));
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDC_PORT_LIST) {
            OnPortListNotice(HIWORD(wparam));
            return 0;
        }
        OnCommand(LOWORD(wparam));
        return 0;
    case kLogLineMessage:
        TrafficLogOnMessage();
        return TRUE;
    case kPortLostMessage:
        PortLost(static_cast<uint32_t>(wparam));
        return TRUE;
    case kConfigAnsweredMessage:
        OnConfigAnswered(static_cast<uint32_t>(wparam));
        return TRUE;
    case WM_DEVICECHANGE:
        OnDeviceChange(wparam, lparam);
        return TRUE;
    case WM_TIMER:
        if (wparam == kRetryTimer)
            TryResume();
        return 0;
    case WM_DESTROY:
        SaveLogToolsSettings(dialog);
        PostQuitMessage(0);
        return 0;
    default:
        return FALSE;
    }
}
