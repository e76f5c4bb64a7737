// Tarnwick's main dialog: start-up, port button, paging, timers and the
// owner-drawn grid (see tag_bench_dialog.h for the threading rules).
//
// The grid cells are static controls from the template turned owner-drawn at
// initialisation; their colour comes from CellOffline, which ShowTagRow sets
// before it changes any text, so the repaint each text change causes already
// uses the new colour. The dialog background is bitmap 134 stretched over the
// client area on WM_CTLCOLORDLG.
//
// A port that vanishes while open (a pulled adapter) is closed as the user's
// close would close it, reported once in a box and under the status labels,
// and tried again once a second (timer 3): when it opens again capture and
// the timers resume on the same table at the same speed, the reminder stays
// stopped. Windows's word that the open port was removed counts as such a
// loss at once, and its word that the lost port arrived retries at once.
// Line errors the port reports are counted in a label of their own, and
// reminder frames that did not wholly go out in another beside it.
#include "tagbench/win32/tag_bench_dialog.h"

#include <commctrl.h>

#include <cstdio>
#include <mutex>

#include "serial/port_keeper.h"
#include "serial/port_names.h"
#include "serial/win32/port_change_win32.h"
#include "serial/win32/port_list_win32.h"
#include "serial/win32/serial_link.h"
#include "shell/win32/app_shell.h"
#include "shell/win32/settings_win32.h"
#include "tagbench/frame_assembler.h"
#include "tagbench/grid_format.h"
#include "tagbench/reminder.h"
#include "tagbench/win32/tag_find_win32.h"
#include "tagbench/win32/tarnwick_settings_win32.h"
#include "tagbench/win32/tarnwick_resources.h"

namespace {

constexpr UINT_PTR kSecondTimer = 1;
constexpr UINT kSecondTimerMs = 1000;
constexpr UINT_PTR kBatchTimer = 2;
constexpr UINT kBatchTimerMs = 100;
// Runs only while a lost port is being tried again.
constexpr UINT_PTR kRetryTimer = 3;
constexpr UINT kRetryTimerMs = 1000;
// Posted by the receive thread when its port stopped answering; wParam is
// the port's generation.
constexpr UINT kPortLostMessage = WM_APP + 16;
// How long the exit waits for each worker thread to end.
constexpr DWORD kThreadStopWaitMs = 2000;
constexpr int kHeaderCells = kGridColumns;
// SS_CENTER | 0x0D = SS_OWNERDRAW: the cells are painted by WM_DRAWITEM.
constexpr LONG kOwnerDrawBits = 0x0D;

constexpr int kSpeedCount = 7;
// List position = baud index of the serial link.
const char *const kSpeedTexts[kSpeedCount] = {"9600", "14400", "19200", "38400", "56000", "57600", "115200"};
constexpr int kDefaultSpeed = 6;

// Dialog state; GUI thread only.
HWND DialogWindow;
HWND GridCells[kGridCellCount];
unsigned char CellOffline[kGridCellCount]; // used for cells 6 to 77
BOOL PortOpen;
HDC BackgroundDC; // holds bitmap 134 for the life of the process
int BackgroundWidth;
int BackgroundHeight;
HBRUSH HeaderBrush;
HBRUSH OfflineBrush;
HBRUSH OnlineBrush;
HBRUSH ControlBrush;

HWND PortList;
HWND SpeedList;
HWND PortButton;
HWND PrevPageButton;
HWND NextPageButton;
HWND ReaderLabel;
HWND TotalLabel;
HWND OfflineLabel;
HWND RefusedLabel; // tags a full table did not take
HWND StartIdEdit;
HWND ReminderButton;
HWND GreenCheck;
HWND RedCheck;
HWND BuzzerCheck;
HWND PortErrorsLabel;
HWND PortNoteLabel;
HWND ReminderFailuresLabel;

// The port the user opened, kept across a loss.
PortKeeper Keeper;
// The worker threads, in the order started: receive, table, assembler.
HANDLE WorkerThreads[3];
int WorkerThreadCount;

} // namespace

const int GridCellIds[kGridCellCount] = {
    1046, 1083, 1084, 1085, 1086, 1087, // header
    1088, 1107, 1108, 1109, 1110, 1111, // row 0: there is no control 1106
    1112, 1113, 1114, 1115, 1116, 1117, 1118, 1119, 1120, 1121, 1122, 1123,
    1124, 1125, 1126, 1127, 1128, 1129, 1130, 1131, 1132, 1133, 1134, 1135,
    1136, 1137, 1138, 1139, 1140, 1141, 1142, 1143, 1144, 1145, 1146, 1147,
    1148, 1149, 1150, 1151, 1152, 1153, 1154, 1155, 1156, 1157, 1158, 1159,
    1160, 1161, 1162, 1163, 1164, 1165, 1166, 1167, 1168, 1169, 1170, 1171,
    1172, 1173, 1174, 1175, 1176, 1177,
};

DWORD WINAPI TagTableThread(LPVOID)
{
    TagTableLoop(&InboundStop);
    return 0;
}

DWORD WINAPI FrameAssemblerThread(LPVOID)
{
    FrameAssemblerLoop(&InboundStop);
    return 0;
}

namespace {

// Receive thread: every chunk read goes into RxRing. When the ring is full
// the thread waits for the assembler (the port's buffer holds what arrives
// meanwhile); only a stall past the bound, or a close, drops the rest.
void AppendToRxRing(const uint8_t *data, uint32_t length)
{
    RxRingDeliver(data, length, kRxRoomWaitMs);
}

// Receive thread: the port's line errors and its loss.
void OnLineErrors(uint32_t flags)
{
    NotePortLineErrors(flags);
}

void OnPortLost(uint32_t generation)
{
    NotePortLost();
    PostMessageA(DialogWindow, kPortLostMessage, generation, 0);
}

void StartThread(LPTHREAD_START_ROUTINE procedure)
{
    // Kept for the exit, which stops the threads before the statics they
    // use are destroyed.
    HANDLE thread = CreateThread(nullptr, 0, procedure, nullptr, 0, nullptr);
    if (thread && WorkerThreadCount < 3)
        WorkerThreads[WorkerThreadCount++] = thread;
}

void EmptyRow(int row)
{
    for (int c = 0; c < kGridColumns; ++c) {
        const int k = kHeaderCells + kGridColumns * row + c;
        CellOffline[k] = 0;
        SetWindowTextA(GridCells[k], "");
    }
}

// --- what the reminder borrows from the dialog --------------------------

void ReadEditText(int control_id, char *text, int size)
{
    GetDlgItemTextA(DialogWindow, control_id, text, size);
}

bool IsBoxChecked(int control_id)
{
    return SendDlgItemMessageA(DialogWindow, control_id, BM_GETCHECK, 0, 0) != 0;
}

void ShowReminderMessage(const char *text)
{
    MessageBoxA(DialogWindow, text, nullptr, MB_ICONINFORMATION);
}

void ShowReminderRunning(bool running)
{
    SetWindowTextA(ReminderButton, ReminderButtonCaption(running));
    EnableWindow(StartIdEdit, running ? FALSE : TRUE);
}

void ShowReminderWriteFailures(uint32_t count)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(count));
    SetWindowTextA(ReminderFailuresLabel, text);
}

void SetReminderIdle()
{
    MarkReminderIdle();
    ShowReminderRunning(false);
}

// --- start-up -------------------------------------------------------------

void FillPortList(bool probe);

void LoadBackground(HWND dialog)
{
    HBITMAP bitmap = LoadBitmapA(AppInstance, MAKEINTRESOURCEA(IDB_BACKGROUND));
    HDC dc = GetDC(dialog);
    BackgroundDC = CreateCompatibleDC(dc);
    ReleaseDC(dialog, dc);
    SelectObject(BackgroundDC, bitmap);
    BITMAP info = {};
    GetObjectA(bitmap, sizeof info, &info);
    BackgroundWidth = info.bmWidth;
    BackgroundHeight = info.bmHeight;
}

void InitDialog(HWND dialog)
{
    DialogWindow = dialog;
    LoadBackground(dialog);

    INITCOMMONCONTROLSEX icc = {sizeof icc, 0xFF};
    InitCommonControlsEx(&icc);

    // The worker threads, in this order: the receive thread is idle until a
    // port opens; InitTagBench empties the rings before their other two
    // threads exist.
    SerialConfigure(SerialFlavor::Tarnwick, AppendToRxRing);
    SerialSetEvents(SerialEvents{OnLineErrors, OnPortLost});
    StartThread(SerialReceiveThread);
    InitTagBench();
    StartThread(TagTableThread);
    StartThread(FrameAssemblerThread);

    PortList = GetDlgItem(dialog, IDC_PORT_LIST);
    FillPortList(true);

    SpeedList = GetDlgItem(dialog, IDC_SPEED_LIST);
    for (const char *speed : kSpeedTexts)
        SendMessageA(SpeedList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(speed));
    SendMessageA(SpeedList, CB_SETCURSEL, kDefaultSpeed, 0);

    SetDlgItemTextA(dialog, IDC_REMINDER_QUANTITY, "1");

    for (int k = 0; k < kGridCellCount; ++k) {
        GridCells[k] = GetDlgItem(dialog, GridCellIds[k]);
        SetWindowLongA(GridCells[k], GWL_STYLE, GetWindowLongA(GridCells[k], GWL_STYLE) | kOwnerDrawBits);
        CellOffline[k] = 0;
    }

    StartIdEdit = GetDlgItem(dialog, IDC_REMINDER_START_ID);
    PortButton = GetDlgItem(dialog, IDC_PORT_BUTTON);
    PrevPageButton = GetDlgItem(dialog, IDC_PREV_PAGE);
    NextPageButton = GetDlgItem(dialog, IDC_NEXT_PAGE);
    ReminderButton = GetDlgItem(dialog, IDC_REMINDER_BUTTON);
    EnableWindow(ReminderButton, FALSE);

    RefusedLabel = GetDlgItem(dialog, IDC_TABLE_REFUSED);
    ReaderLabel = GetDlgItem(dialog, IDC_READER_STATE);
    TotalLabel = GetDlgItem(dialog, IDC_TAG_TOTAL);
    OfflineLabel = GetDlgItem(dialog, IDC_OFFLINE_TOTAL);
    PortErrorsLabel = GetDlgItem(dialog, IDC_PORT_ERRORS);
    PortNoteLabel = GetDlgItem(dialog, IDC_PORT_NOTE);
    ReminderFailuresLabel = GetDlgItem(dialog, IDC_REMINDER_FAILURES);

    GreenCheck = GetDlgItem(dialog, IDC_LAMP_GREEN);
    RedCheck = GetDlgItem(dialog, IDC_LAMP_RED);
    BuzzerCheck = GetDlgItem(dialog, IDC_BUZZER);
    SendMessageA(GreenCheck, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageA(RedCheck, BM_SETCHECK, BST_UNCHECKED, 0);
    SendMessageA(BuzzerCheck, BM_SETCHECK, BST_CHECKED, 0);

    HeaderBrush = CreateSolidBrush(RGB(200, 200, 200));
    OfflineBrush = CreateSolidBrush(RGB(255, 0, 0));
    OnlineBrush = CreateSolidBrush(RGB(255, 255, 255));
    ControlBrush = CreateSolidBrush(RGB(240, 240, 240));

    ReminderIo io = {};
    io.write = SerialWriteReport;
    io.read_edit = ReadEditText;
    io.is_checked = IsBoxChecked;
    io.show_message = ShowReminderMessage;
    io.set_running_ui = ShowReminderRunning;
    io.show_write_failures = ShowReminderWriteFailures;
    SetReminderIo(io);
    MarkReminderIdle();
    PrepareGridForFinding(dialog);
    LoadTarnwickSettings(dialog);
}

// --- port button ----------------------------------------------------------

// The tags a full table did not take, which would otherwise go unseen.
void ShowRefusedTags()
{
    const int32_t refused = RefusedTagCount.load(std::memory_order_acquire);
    char text[48] = "";
    if (refused > 0)
        std::snprintf(text, sizeof text, refused >= kMaxRefusedIds ? "表满，%d 个以上未记入" : "表满，%d 个未记入",
                      static_cast<int>(refused));
    SetWindowTextA(RefusedLabel, text);
}

void ShowPortErrors()
{
    char text[16];
    std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(PortErrorsSinceReset()));
    SetWindowTextA(PortErrorsLabel, text);
}

SerialOpenResult OpenNamed(const std::string &port, uint32_t baud_index)
{
    char path[24];
    std::snprintf(path, sizeof path, "\\\\.\\%s", port.c_str());
    return SerialOpenChecked(path, baud_index);
}

// The controls and timers of an open port.
void ShowPortOpen()
{
    PortOpen = TRUE;
    EnableWindow(PortList, FALSE);
    EnableWindow(SpeedList, FALSE);
    EnableWindow(ReminderButton, TRUE);
    SetReminderIdle();
    SetWindowTextA(PortButton, "关闭串口");
}

void StartTimers(HWND dialog)
{
    SetTimer(dialog, kSecondTimer, kSecondTimerMs, nullptr);
    SetTimer(dialog, kBatchTimer, kBatchTimerMs, nullptr);
}

void OpenPort(HWND dialog)
{
    const std::string port = PortListPort(PortList);
    // CB_ERR (no selection) becomes an index above 6, which means 9600.
    const uint32_t baud_index = static_cast<uint32_t>(SendMessageA(SpeedList, CB_GETCURSEL, 0, 0));
    // The user's own open ends the retries of a lost port, whatever it opens;
    // the note must then stop saying that they go on.
    const std::string lost = Keeper.IsRetrying() ? Keeper.Name() : std::string();
    Keeper.Forget();
    KillTimer(dialog, kRetryTimer);
    if (!lost.empty())
        SetWindowTextA(PortNoteLabel, (lost + " 已断开，已停止重试").c_str());
    const SerialOpenResult opened = OpenNamed(port, baud_index);
    if (opened == SerialOpenResult::Refused)
        ShowReminderMessage(PortRefusedText(port, BaudRateForIndex(baud_index)).c_str());
    if (opened == SerialOpenResult::Failed)
        ShowReminderMessage(PortOpenFailureText(port, SerialLastOpenError()).c_str());
    if (opened != SerialOpenResult::Opened)
        return;

    Keeper.Opened(port.c_str(), baud_index, SerialPortGeneration());
    RememberOpenedPort(port, BaudRateForIndex(baud_index));
    SetWindowTextA(PortNoteLabel, "");
    ShowPortOpen();
    ResetTagBench(ClearDisplay); // empties rings and table, then captures
    ShowPortErrors();
    ResetReminderWriteFailures();
    StartTimers(dialog);
}

// Everything the user's close does; the loss of the port does the same.
void StopUsingPort(HWND dialog)
{
    PortOpen = FALSE;
    // Stop queueing first: bytes of a read still under way may reach the
    // ring after the close, but no frame made of them is entered. This also
    // ends at once a receive thread that waits for room in the ring.
    StopCapture();
    {
        std::lock_guard<std::mutex> lock(TableLock);
        ReaderConnected.store(0, std::memory_order_relaxed);
    }
    RefreshPage(); // "未连接" at once; the table stays visible until reopened
    SerialClose();
    KillTimer(dialog, kSecondTimer);
    KillTimer(dialog, kBatchTimer);
    EnableWindow(PortList, TRUE);
    EnableWindow(SpeedList, TRUE);
    EnableWindow(ReminderButton, FALSE);
    SetReminderIdle();
    SetWindowTextA(PortButton, "打开串口");
}

void ClosePort(HWND dialog)
{
    Keeper.Forget();
    KillTimer(dialog, kRetryTimer);
    SetWindowTextA(PortNoteLabel, "");
    StopUsingPort(dialog);
}

// --- a port that vanished ---------------------------------------------------

// At start-up by opening every number; refills read the registered ports
// and open none.
void FillPortList(bool probe)
{
    if (probe)
        EnumerateComPorts();
    else
        ListRegisteredComPorts(256);
    const std::string keep = Keeper.IsOpen() || Keeper.IsRetrying() ? Keeper.Name() : std::string();
    RefillPortList(PortList, PortListNames(ComPortList, ComPortCount, keep), false);
}

void PortLost(HWND dialog, uint32_t generation)
{
    if (!Keeper.Lost(generation))
        return; // a port the user closed or replaced meanwhile
    StopUsingPort(dialog);
    ShowPortErrors();
    SetWindowTextA(PortNoteLabel, (Keeper.Name() + " 已断开，正在每秒重试").c_str());
    SetTimer(dialog, kRetryTimer, kRetryTimerMs, nullptr);
    if (!Keeper.TakeBox())
        return; // one box at a time, however often the adapter flickers
    const std::string text = PortLostText(Keeper.Name());
    MessageBoxA(dialog, text.c_str(), nullptr, MB_ICONINFORMATION);
    Keeper.BoxClosed();
}

// Timer 3, and any device change while retrying.
void TryResume(HWND dialog)
{
    if (!Keeper.IsRetrying()) {
        KillTimer(dialog, kRetryTimer);
        return;
    }
    if (OpenNamed(Keeper.Name(), Keeper.BaudIndex()) != SerialOpenResult::Opened)
        return;
    KillTimer(dialog, kRetryTimer);
    Keeper.Resumed(SerialPortGeneration());
    // The same table, the same speed: capture and the timers just restart.
    SendMessageA(SpeedList, CB_SETCURSEL, Keeper.BaudIndex(), 0);
    ShowPortOpen();
    CaptureEnabled.store(1, std::memory_order_release);
    StartTimers(dialog);
    SYSTEMTIME now;
    GetLocalTime(&now);
    char note[64];
    std::snprintf(note, sizeof note, "%s 已于 %02u:%02u:%02u 自动重新打开", Keeper.Name().c_str(), now.wHour,
                  now.wMinute, now.wSecond);
    SetWindowTextA(PortNoteLabel, note);
}

// Windows waits for this broadcast, so a loss found here is posted: its
// box comes up after the broadcast has returned.
void OnDeviceChange(HWND dialog, WPARAM event, LPARAM record)
{
    if (SendMessageA(PortList, CB_GETDROPPEDSTATE, 0, 0) == 0)
        FillPortList(false);
    // The open port's removal is its loss, even while its driver still
    // answers; a driver that does not end a pending wait when its device
    // goes is caught by asking it.
    std::string name;
    const PortChange change = PortChangeOf(event, record, &name);
    if (Keeper.IsOpen() && ((change == PortChange::Removed && Keeper.IsOpenPort(name)) || !SerialPortAnswers())) {
        RxRingMarkBreak();
        PostMessageA(dialog, kPortLostMessage, SerialPortGeneration(), 0);
    }
    // Any change may be the lost port's return, its arrival by name above all.
    if (Keeper.IsRetrying())
        TryResume(dialog);
}

void OnPortListNotice(HWND dialog, int code)
{
    if (code == CBN_DROPDOWN) {
        FillPortList(false);
    } else if (code == CBN_SELCHANGE && Keeper.Chose(PortListChoice(PortList).c_str())) {
        KillTimer(dialog, kRetryTimer);
        SetWindowTextA(PortNoteLabel, "");
    }
}

// --- painting ---------------------------------------------------------------

void DrawCell(const DRAWITEMSTRUCT *item)
{
    int k = 0;
    while (k < kGridCellCount && GridCells[k] != item->hwndItem)
        ++k;
    if (k == kGridCellCount)
        return; // not a grid cell

    HBRUSH brush = k < kHeaderCells ? HeaderBrush : (CellOffline[k] ? OfflineBrush : OnlineBrush);
    RECT rect = item->rcItem;
    HGDIOBJ previous = SelectObject(item->hDC, brush);
    FillRect(item->hDC, &rect, brush);
    SelectObject(item->hDC, previous);

    char text[kGridCellTextSize];
    GetWindowTextA(item->hwndItem, text, kGridCellTextSize - 1); // at most 62 chars
    SetTextColor(item->hDC, RGB(0, 0, 0));
    SetBkMode(item->hDC, TRANSPARENT);
    DrawTextA(item->hDC, text, -1, &rect, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    DrawGridMark(item, k);
}

// Stretches the background bitmap over the client area; the NULL brush that
// the caller returns keeps anything from painting over it.
void PaintBackground(HWND dialog, HDC dc)
{
    RECT client;
    GetClientRect(dialog, &client);
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchBlt(dc, 0, 0, client.right, client.bottom, BackgroundDC, 0, 0, BackgroundWidth, BackgroundHeight,
               SRCCOPY);
}

void OnCommand(HWND dialog, int control_id)
{
    switch (control_id) {
    case IDC_NEXT_PAGE:
        if (CanShowNextPage(PageIndex, TagCount.load(std::memory_order_relaxed))) {
            ++PageIndex;
            RefreshPage();
        }
        break;
    case IDC_PREV_PAGE:
        if (CanShowPreviousPage(PageIndex)) {
            --PageIndex;
            RefreshPage();
        }
        break;
    case IDC_PORT_BUTTON:
        if (PortOpen)
            ClosePort(dialog);
        else
            OpenPort(dialog);
        break;
    case IDC_REMINDER_BUTTON:
        OnReminderButton();
        break;
    default:
        break;
    }
}

} // namespace

void ShowStatus(int32_t connected, int32_t total, int32_t offline)
{
    const StatusTexts texts = FormatStatus(connected, total, offline);
    SetWindowTextA(ReaderLabel, texts.reader);
    SetWindowTextA(TotalLabel, texts.total);
    SetWindowTextA(OfflineLabel, texts.offline);
}

void ShowTagRow(int row, const TagRowSnapshot &snapshot)
{
    if (row < 0 || row >= kGridRowsPerPage)
        return;
    const GridRowTexts texts = FormatTagRow(snapshot);
    const int first = kHeaderCells + kGridColumns * row;
    // Colour first: each text change below repaints its cell.
    for (int c = 0; c < kGridColumns; ++c)
        CellOffline[first + c] = texts.offline ? 1 : 0;
    for (int c = 0; c < kGridColumns; ++c)
        SetWindowTextA(GridCells[first + c], texts.cells[c]);
}

void RefreshPage()
{
    NoteGridPage(PageIndex);
    ShowStatus(ReaderConnected.load(std::memory_order_relaxed), TagCount.load(std::memory_order_relaxed),
               OfflineCount.load(std::memory_order_relaxed));
    // TagCount only grows between resets, and resets run on this thread, so
    // every index below the count read here stays valid for SnapshotTag.
    const int32_t count = TagCount.load(std::memory_order_acquire);
    for (int r = 0; r < kGridRowsPerPage; ++r) {
        const int32_t i = kGridRowsPerPage * PageIndex + r;
        if (i < count)
            ShowTagRow(r, SnapshotTag(i));
        else
            EmptyRow(r);
    }
}

void OnSecondTick()
{
    if (!CaptureEnabled.load(std::memory_order_acquire))
        return;
    AgeTagTable();
    // The refusals before the count: a table that fills between the two
    // reads would otherwise show "表满" beside a total short of full.
    ShowRefusedTags();
    RefreshPage();
    ShowPortErrors();
}

void StopTagBench()
{
    // In order: the receive thread may wait for room in the ring (ended by
    // StopCapture) or for the port (ended with the port); the assembler and
    // the table thread then have nothing more coming.
    StopCapture();
    SerialStopReceiveThread();
    if (WorkerThreadCount > 0)
        WaitForSingleObject(WorkerThreads[0], kThreadStopWaitMs);
    RequestInboundStop();
    for (int i = 1; i < WorkerThreadCount; ++i)
        WaitForSingleObject(WorkerThreads[i], kThreadStopWaitMs);
    for (int i = 0; i < WorkerThreadCount; ++i)
        CloseHandle(WorkerThreads[i]);
    WorkerThreadCount = 0;
    Keeper.Forget();
}

void ClearDisplay()
{
    ClearGridMark();
    ShowStatus(0, 0, 0);
    ShowRefusedTags();
    for (int r = 0; r < kGridRowsPerPage; ++r)
        EmptyRow(r);
}

INT_PTR CALLBACK TagBenchDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitDialog(dialog);
        return TRUE;
    case WM_DRAWITEM:
        DrawCell(reinterpret_cast<const DRAWITEMSTRUCT *>(lparam));
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDC_PORT_LIST) {
            OnPortListNotice(dialog, HIWORD(wparam));
            return FALSE;
        }
        OnCommand(dialog, LOWORD(wparam));
        OnGridCommand(LOWORD(wparam), HIWORD(wparam));
        return FALSE;
    case WM_TIMER:
        if (wparam == kSecondTimer) {
            OnSecondTick();
            OnReminderSecondTick();
        } else if (wparam == kBatchTimer) {
            OnReminderBatchTick();
        } else if (wparam == kRetryTimer) {
            TryResume(dialog);
        }
        return FALSE;
    case kPortLostMessage:
        PortLost(dialog, static_cast<uint32_t>(wparam));
        return TRUE;
    case WM_DEVICECHANGE:
        OnDeviceChange(dialog, wparam, lparam);
        return TRUE;
    case WM_CTLCOLORDLG:
        PaintBackground(dialog, reinterpret_cast<HDC>(wparam));
        return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
    case WM_CTLCOLORSTATIC:
        SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
        return reinterpret_cast<INT_PTR>(ControlBrush);
    case WM_CTLCOLORBTN:
        return reinterpret_cast<INT_PTR>(ControlBrush);
    case WM_DESTROY:
        SaveTarnwickSettings(dialog);
        PostQuitMessage(0);
        return FALSE;
    default:
        return FALSE;
    }
}
