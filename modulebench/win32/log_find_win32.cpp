// Find box, the frame of the line found, and copying (see log_find_win32.h).
//
// The line found is held by its number (LogLineMark), not by its index, so
// the frame stays on it while lines are added and the oldest let go; a timer
// of the list looks, four times a second while a line is framed, whether it
// is still there, so that its going is said even when nothing else happens.
#include "modulebench/win32/log_find_win32.h"

#include <string>

#include "modulebench/log_search.h"
#include "modulebench/win32/log_copy_win32.h"
#include "modulebench/win32/log_tools_resources.h"
#include "modulebench/win32/pellfray_resources.h"
#include "modulebench/win32/traffic_log_win32.h"
#include "shell/win32/app_shell.h"

namespace {

constexpr UINT_PTR kWatchTimer = 0x4C46; // the list's own timers are small numbers
constexpr UINT kWatchTimerMs = 250;
constexpr int kFrameWidth = 2;
constexpr COLORREF kFrameColour = RGB(0, 0, 255);

// GUI thread only.
HWND MainWindow;
HWND LogList;
HWND FindBox;
WNDPROC ListProc;
HBRUSH FrameBrush;
LogLineMark Mark;
std::string Query;  // the text last looked for, kept while the box is closed
std::string Status; // the box's status line, kept likewise

const char kNothingToFindText[] = "请输入要查找的文字或字节";
const char kCopyFailedText[] = "无法复制到剪贴板";

// The log list as FindLogLine reads it (in the list's code page, as the
// query is).
struct ListLines {
    size_t Count() const
    {
        const LRESULT count = SendMessageA(LogList, LB_GETCOUNT, 0, 0);
        return count > 0 ? static_cast<size_t>(count) : 0;
    }
    std::string Line(size_t index) const
    {
        const LRESULT length = SendMessageA(LogList, LB_GETTEXTLEN, index, 0);
        if (length <= 0)
            return std::string();
        std::string text(static_cast<size_t>(length) + 1, '\0');
        const LRESULT got = SendMessageA(LogList, LB_GETTEXT, index, reinterpret_cast<LPARAM>(&text[0]));
        text.resize(got > 0 ? static_cast<size_t>(got) : 0);
        return text;
    }
};

void ShowStatus(const std::string &text)
{
    Status = text;
    if (FindBox != nullptr)
        SetDlgItemTextA(FindBox, IDC_LOG_FIND_STATUS, Status.c_str());
}

size_t TopIndex()
{
    const LRESULT top = SendMessageA(LogList, LB_GETTOPINDEX, 0, 0);
    return top > 0 ? static_cast<size_t>(top) : 0;
}

// Lines that show, the last one also when only part of it does.
size_t LinesInView()
{
    RECT client;
    GetClientRect(LogList, &client);
    const LRESULT height = SendMessageA(LogList, LB_GETITEMHEIGHT, 0, 0);
    if (height == LB_ERR || height <= 0)
        return 1;
    return static_cast<size_t>((client.bottom + height - 1) / height);
}

// The framed line's index, or kNoLogLine.
size_t FramedLine()
{
    return Mark.Current(TrafficLogListState());
}

void Repaint()
{
    InvalidateRect(LogList, nullptr, TRUE);
}

// Scrolls the line into the middle of the view unless it shows already.
void BringIntoView(size_t index)
{
    const size_t top = TopIndex();
    RECT client;
    GetClientRect(LogList, &client);
    const LRESULT height = SendMessageA(LogList, LB_GETITEMHEIGHT, 0, 0);
    const size_t whole = height > 0 ? static_cast<size_t>(client.bottom / height) : 1;
    if (index >= top && index < top + (whole > 0 ? whole : 1))
        return;
    SendMessageA(LogList, LB_SETTOPINDEX, index > whole / 2 ? index - whole / 2 : 0, 0);
}

// The line found has gone from the list (or the list was emptied): its
// frame goes and the box says why.
void CheckFramedLine()
{
    size_t index = 0;
    const LogLineMark::Where where = Mark.Locate(TrafficLogListState(), &index);
    if (where == LogLineMark::Where::Shown)
        return;
    KillTimer(LogList, kWatchTimer);
    if (where == LogLineMark::Where::None)
        return;
    Mark.Forget();
    ShowStatus(where == LogLineMark::Where::LetGo ? kLogMarkLetGoText : kLogMarkClearedText);
    Repaint();
}

void ReadQuery()
{
    if (FindBox == nullptr)
        return;
    HWND edit = GetDlgItem(FindBox, IDC_LOG_FIND_TEXT);
    const int length = GetWindowTextLengthA(edit);
    std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    const int got = GetWindowTextA(edit, &text[0], length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    Query = text;
}

void Find(bool forward)
{
    ReadQuery();
    const LogQuery query = MakeLogQuery(Query.data(), Query.size());
    if (query.text.empty()) {
        ShowStatus(kNothingToFindText);
        return;
    }
    const LogListState state = TrafficLogListState();
    bool wrapped = false;
    const size_t found = FindLogLine(ListLines(), query, Mark.Current(state), forward, &wrapped);
    if (found == kNoLogLine) {
        Mark.Forget();
        KillTimer(LogList, kWatchTimer);
        ShowStatus(kLogNotFoundText);
        Repaint();
        if (FindBox == nullptr) // F3 with the box closed: where it is said
            OpenLogFindBox(MainWindow);
        return;
    }
    Mark.Set(found, state);
    BringIntoView(found);
    Repaint();
    SetTimer(LogList, kWatchTimer, kWatchTimerMs, nullptr);
    std::string text = LogLinePositionText(found);
    if (wrapped)
        text += std::string("，") + kLogWrappedText;
    ShowStatus(text);
}

// Draws the frame of the line found over what the list painted.
void DrawFrame()
{
    const size_t index = FramedLine();
    if (index == kNoLogLine)
        return;
    RECT r;
    if (SendMessageA(LogList, LB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r)) == LB_ERR)
        return;
    HDC dc = GetDC(LogList);
    if (dc == nullptr)
        return;
    for (int i = 0; i < kFrameWidth; ++i) {
        FrameRect(dc, &r, FrameBrush);
        InflateRect(&r, -1, -1);
    }
    ReleaseDC(LogList, dc);
}

void Copy(size_t first, size_t end)
{
    if (first >= end) {
        ShowStatus("没有可复制的行");
        return;
    }
    if (!CopyListLines(MainWindow, LogList, first, end)) {
        MessageBoxA(FindBox != nullptr && IsWindowVisible(FindBox) ? FindBox : MainWindow, kCopyFailedText,
                    nullptr, MB_OK | MB_ICONWARNING);
        return;
    }
    ShowStatus("已复制 " + std::to_string(end - first) + " 行");
}

void CopyFound()
{
    const size_t index = FramedLine();
    if (index != kNoLogLine)
        Copy(index, index + 1);
}

void CopyView()
{
    const size_t top = TopIndex();
    const size_t count = ListLines().Count();
    const size_t end = top + LinesInView();
    Copy(top, end < count ? end : count);
}

void CopyAll()
{
    Copy(0, ListLines().Count());
}

// Ctrl+C: the line found while it is framed, else the lines in view.
void CopyForKeys()
{
    if (FramedLine() != kNoLogLine)
        CopyFound();
    else
        CopyView();
}

void ShowContextMenu(LPARAM where)
{
    POINT at = {static_cast<short>(LOWORD(where)), static_cast<short>(HIWORD(where))};
    if (where == static_cast<LPARAM>(-1)) { // from the keyboard
        at = {0, 0};
        ClientToScreen(LogList, &at);
    }
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr)
        return;
    AppendMenuW(menu, MF_STRING | (FramedLine() == kNoLogLine ? MF_GRAYED : 0), IDM_COPY_FOUND, L"复制找到的行(&F)");
    AppendMenuW(menu, MF_STRING, IDM_COPY_VIEW, L"复制可见的行(&V)");
    AppendMenuW(menu, MF_STRING, IDM_COPY_ALL, L"复制全部行(&A)");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_CONTEXT_FIND, L"查找…\tCtrl+F");
    const int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, LogList, nullptr);
    DestroyMenu(menu);
    switch (chosen) {
    case IDM_COPY_FOUND:
        CopyFound();
        break;
    case IDM_COPY_VIEW:
        CopyView();
        break;
    case IDM_COPY_ALL:
        CopyAll();
        break;
    case IDM_CONTEXT_FIND:
        OpenLogFindBox(MainWindow);
        break;
    default:
        break;
    }
}

LRESULT CALLBACK LogListProc(HWND list, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_PAINT: {
        const LRESULT result = CallWindowProcW(ListProc, list, message, wparam, lparam);
        DrawFrame();
        return result;
    }
    case WM_CONTEXTMENU:
        ShowContextMenu(lparam);
        return 0;
    case WM_TIMER:
        if (wparam != kWatchTimer)
            break;
        CheckFramedLine();
        return 0;
    default:
        break;
    }
    return CallWindowProcW(ListProc, list, message, wparam, lparam);
}

INT_PTR CALLBACK FindBoxProc(HWND box, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(box, IDC_LOG_FIND_TEXT, Query.c_str());
        SetDlgItemTextA(box, IDC_LOG_FIND_STATUS, Status.c_str());
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDOK:
            Find(true);
            return TRUE;
        case IDC_LOG_FIND_PREV:
            Find(false);
            return TRUE;
        case IDCANCEL:
            ReadQuery();
            DestroyWindow(box);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_DESTROY:
        FindBox = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

// Over the reader's group of the main dialog, right of the log list, so
// that it hides no line (dialog units of the main dialog).
void PlaceFindBox(HWND box)
{
    HWND dialog = GetParent(LogList);
    RECT at = {321, 75, 0, 0};
    MapDialogRect(dialog, &at);
    POINT corner = {at.left, at.top};
    ClientToScreen(dialog, &corner);
    SetWindowPos(box, nullptr, corner.x, corner.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool KeyDown(const MSG *m, WPARAM key)
{
    return m->message == WM_KEYDOWN && m->wParam == key && (GetKeyState(VK_MENU) & 0x8000) == 0;
}

bool Held(int key)
{
    return (GetKeyState(key) & 0x8000) != 0;
}

bool OfPellfray(HWND window)
{
    return window != nullptr && GetAncestor(window, GA_ROOTOWNER) == MainWindow;
}

} // namespace

void AttachLogFind(HWND dialog)
{
    MainWindow = GetParent(dialog);
    LogList = GetDlgItem(dialog, IDC_LOG_LIST);
    FrameBrush = CreateSolidBrush(kFrameColour); // lives as long as the dialog
    // A Unicode subclass: the list's own text messages then reach it as they
    // did before, without a round trip through the code page. Wine cuts a
    // line longer than 767 characters (a chunk of over 251 bytes) read back
    // through an ANSI subclass, and 保存日志 and the copy read it that way.
    ListProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(LogList, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(LogListProc)));
}

void OpenLogFindBox(HWND)
{
    if (LogList == nullptr)
        return;
    if (FindBox == nullptr) {
        FindBox = CreateDialogParamW(AppInstance, MAKEINTRESOURCEW(IDD_LOG_FIND), MainWindow, FindBoxProc, 0);
        if (FindBox == nullptr)
            return;
        PlaceFindBox(FindBox);
    }
    ShowWindow(FindBox, SW_SHOW);
    SetForegroundWindow(FindBox);
    SetActiveWindow(FindBox);
    HWND edit = GetDlgItem(FindBox, IDC_LOG_FIND_TEXT);
    SetFocus(edit);
    SendMessageA(edit, EM_SETSEL, 0, -1);
}

bool LogFindPreTranslate(MSG *message)
{
    if (MainWindow == nullptr || !OfPellfray(message->hwnd))
        return false;
    if (KeyDown(message, 'F') && Held(VK_CONTROL) && !Held(VK_SHIFT)) {
        OpenLogFindBox(MainWindow);
        return true;
    }
    if (KeyDown(message, VK_F3) && !Held(VK_CONTROL)) {
        if (FindBox == nullptr && Query.empty())
            OpenLogFindBox(MainWindow);
        else
            Find(!Held(VK_SHIFT));
        return true;
    }
    if (KeyDown(message, 'C') && Held(VK_CONTROL) && !Held(VK_SHIFT) && message->hwnd == LogList) {
        CopyForKeys();
        return true;
    }
    return FindBox != nullptr && IsDialogMessageW(FindBox, message);
}
