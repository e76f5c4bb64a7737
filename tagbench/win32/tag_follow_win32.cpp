// Follow windows (see tag_follow_win32.h): layout, refresh and drawing.
//
// The numbers of the picture (axes, ticks, positions, runs) come from
// tagbench/tag_follow_view.h; this file only turns them into GDI calls. The
// plot is drawn into a bitmap of the window's own, which WM_PAINT copies to
// the screen, so a refresh never flickers and a repaint after an overlap
// costs one BitBlt.
//
// The layout below is in pixels at 96 DPI; every size goes through AppPx
// (the program is DPI-aware), so at 150 % the window, its texts' places, the
// panels and the pens are half as large again and nothing overlaps. The
// text itself is the main dialog's font, which already follows the DPI.
#include "tagbench/win32/tag_follow_win32.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "shell/win32/app_shell.h"
#include "shell/win32/save_file_win32.h"
#include "shell/win32/shell_resources.h"
#include "tagbench/tag_follow_view.h"
#include "tagbench/win32/tag_follow_resources.h"
#include "tagbench/win32/wall_clock_win32.h"

const char kFollowWindowClass[] = "TarnwickTagFollow";

namespace {

constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 250; // four looks a second; the picture moves once a second
constexpr int kClientWidth = 760;
constexpr int kClientHeight = 560;
constexpr int kCascadeStep = 26;

// Texts: two columns of label and value, five rows.
constexpr int kRowHeight = 22;
constexpr int kTop = 10;
constexpr int kLabelWidth = 92;
constexpr int kLeftLabelX = 12;
constexpr int kRightLabelX = 386;
constexpr int kValueWidth = 270;

// The plot: two panels sharing the time axis below them.
constexpr int kPlotTop = 128;
constexpr PlotArea kSignalPanel = {64, kPlotTop + 22, kClientWidth - 20, kPlotTop + 202};
constexpr PlotArea kDistancePanel = {64, kPlotTop + 234, kClientWidth - 20, kPlotTop + 394};
// Space a line of text takes above a panel, and half its height.
constexpr int kTitleRise = 20;
constexpr int kHalfText = 7;
constexpr COLORREF kPanelColour = RGB(255, 255, 255);
constexpr COLORREF kOfflineColour = RGB(255, 205, 205);
constexpr COLORREF kGridColour = RGB(225, 225, 225);
constexpr COLORREF kFrameColour = RGB(150, 150, 150);
constexpr COLORREF kSignalColour = RGB(0, 90, 200);
constexpr COLORREF kDistanceColour = RGB(0, 140, 70);
constexpr COLORREF kBackgroundColour = RGB(240, 240, 240);

struct ValueField {
    int id;
    const char *label;
    int x; // label's x
    int row;
};
const ValueField kFields[] = {
    {IDC_FOLLOW_STATE, "状态", kLeftLabelX, 0},
    {IDC_FOLLOW_CURRENT, "当前 dB / cm", kRightLabelX, 0},
    {IDC_FOLLOW_FIRST_SEEN, "首次出现", kLeftLabelX, 1},
    {IDC_FOLLOW_LAST_SEEN, "最后出现", kRightLabelX, 1},
    {IDC_FOLLOW_LAST_SECOND, "最近一秒报告", kLeftLabelX, 2},
    {IDC_FOLLOW_TOTAL, "报告总数", kRightLabelX, 2},
    {IDC_FOLLOW_UNDER_VOLTAGE, "欠压", kLeftLabelX, 3},
    {IDC_FOLLOW_EXTRA, "附加数据", kRightLabelX, 3},
    {IDC_FOLLOW_NEWEST, "最新点", kLeftLabelX, 4},
};
constexpr int kFieldCount = sizeof kFields / sizeof kFields[0];

HFONT TextFont; // the main dialog's; not ours to delete

// One window's state, owned by the window (GWLP_USERDATA), freed on
// WM_NCDESTROY. GUI thread only.
struct FollowWindow {
    uint32_t id = 0;
    HWND window = nullptr; // set on WM_NCCREATE
    HWND values[kFieldCount] = {};
    bool paused = false;
    bool have_picture = false; // tag, series and clock hold a copy
    FollowedTag tag = {};
    FollowedTag scratch = {}; // the next copy, kept only when the tag is there
    PlotSeries series = {};
    WallClock clock = {};
    // What the bitmap shows, to redraw only when the picture changed.
    int64_t drawn_end = -1;
    int drawn_newest = -2;
    uint16_t drawn_count = 0;
    bool drawn_paused = false;
    HDC buffer = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old_bitmap = nullptr;
    std::wstring save_prefix;
};

FollowWindow *OpenWindows[kMaxFollowWindows];

FollowWindow *StateOf(HWND window)
{
    return reinterpret_cast<FollowWindow *>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

void SetTextIfChanged(HWND control, const std::string &text)
{
    char shown[256] = {};
    GetWindowTextA(control, shown, sizeof shown);
    if (text != shown)
        SetWindowTextA(control, text.c_str());
}

HWND AddChild(HWND parent, const char *cls, const char *text, DWORD style, int x, int y, int w, int h, int id)
{
    HWND child = CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), AppInstance, nullptr);
    if (child != nullptr && TextFont != nullptr)
        SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(TextFont), FALSE);
    return child;
}

// Layout sizes at the display's DPI.
int ClientWidth() { return AppPx(kClientWidth); }
int ClientHeight() { return AppPx(kClientHeight); }
int PlotTop() { return AppPx(kPlotTop); }
PlotArea Scaled(const PlotArea &a)
{
    return PlotArea{AppPx(a.left), AppPx(a.top), AppPx(a.right), AppPx(a.bottom)};
}

void CreateControls(FollowWindow *w)
{
    for (int i = 0; i < kFieldCount; ++i) {
        const ValueField &f = kFields[i];
        const int y = kTop + f.row * kRowHeight;
        AddChild(w->window, "STATIC", f.label, SS_LEFT, AppPx(f.x), AppPx(y), AppPx(kLabelWidth),
                 AppPx(kRowHeight - 4), -1);
        w->values[i] = AddChild(w->window, "STATIC", "", SS_LEFT | SS_NOPREFIX, AppPx(f.x + kLabelWidth), AppPx(y),
                                AppPx(kValueWidth), AppPx(kRowHeight - 4), f.id);
    }
    const int y = kTop + 4 * kRowHeight - 3;
    AddChild(w->window, "BUTTON", "暂停", BS_PUSHBUTTON | WS_TABSTOP, AppPx(kRightLabelX), AppPx(y), AppPx(90),
             AppPx(24), IDC_FOLLOW_PAUSE);
    AddChild(w->window, "BUTTON", "保存历史…", BS_PUSHBUTTON | WS_TABSTOP, AppPx(kRightLabelX + 100), AppPx(y),
             AppPx(110), AppPx(24), IDC_FOLLOW_SAVE);
}

// --- drawing ------------------------------------------------------------------

void FillArea(HDC dc, int left, int top, int right, int bottom, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    RECT r = {left, top, right, bottom};
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

void DrawLine(HDC dc, int x0, int y0, int x1, int y1)
{
    MoveToEx(dc, x0, y0, nullptr);
    LineTo(dc, x1, y1);
}

void PutText(HDC dc, const std::string &text, int x, int y, UINT align)
{
    SetTextAlign(dc, align);
    TextOutA(dc, x, y, text.c_str(), static_cast<int>(text.size()));
}

// One panel: background, offline bands, grid and labels of its axis, the
// time grid, the line of its values, its frame and title.
template <class ValueOf>
void DrawPanel(HDC dc, const PlotSeries &s, const PlotArea &a, const Axis &axis, const std::vector<TimeTick> &ticks,
               const char *title, COLORREF colour, ValueOf value_of)
{
    FillArea(dc, a.left, a.top, a.right, a.bottom, kPanelColour);
    for (const IndexRun &run : OfflineRuns(s))
        FillArea(dc, PointX(run.first, a), a.top, PointX(run.last, a) + 1, a.bottom, kOfflineColour);

    HPEN grid = CreatePen(PS_SOLID, AppPx(1), kGridColour);
    HGDIOBJ old_pen = SelectObject(dc, grid);
    for (double v : AxisTicks(axis)) {
        const int y = ValueY(v, axis, a);
        DrawLine(dc, a.left, y, a.right, y);
        PutText(dc, AxisLabel(v), a.left - AppPx(6), y - AppPx(kHalfText), TA_RIGHT | TA_TOP);
    }
    for (const TimeTick &t : ticks)
        DrawLine(dc, PointX(t.index, a), a.top, PointX(t.index, a), a.bottom);

    HPEN line = CreatePen(PS_SOLID, AppPx(2), colour);
    SelectObject(dc, line);
    HBRUSH dot = CreateSolidBrush(colour);
    for (const std::vector<int> &points : SignalLines(s)) {
        std::vector<POINT> xy;
        for (int i : points)
            xy.push_back(POINT{PointX(i, a), ValueY(value_of(s.points[i]), axis, a)});
        if (xy.size() > 1)
            Polyline(dc, xy.data(), static_cast<int>(xy.size()));
        const int dot_half = AppPx(1);
        for (const POINT &p : xy) {
            RECT r = {p.x - dot_half, p.y - dot_half, p.x + dot_half + 1, p.y + dot_half + 1};
            FillRect(dc, &r, dot);
        }
    }
    // The frame lies just outside the panel, however wide its pen.
    const int frame_width = AppPx(1);
    HPEN frame = CreatePen(PS_INSIDEFRAME, frame_width, kFrameColour);
    SelectObject(dc, frame);
    SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, a.left - frame_width, a.top - frame_width, a.right + frame_width, a.bottom + frame_width);
    SelectObject(dc, old_pen);
    DeleteObject(grid);
    DeleteObject(line);
    DeleteObject(frame);
    DeleteObject(dot);
    SetTextColor(dc, colour);
    PutText(dc, title, a.left, a.top - AppPx(kTitleRise), TA_LEFT | TA_TOP);
    SetTextColor(dc, RGB(0, 0, 0));
}

void DrawPicture(FollowWindow *w)
{
    HDC dc = w->buffer;
    const PlotSeries &s = w->series;
    const int width = ClientWidth();
    FillArea(dc, 0, 0, width, ClientHeight() - PlotTop(), kBackgroundColour);
    HGDIOBJ old_font = TextFont != nullptr ? SelectObject(dc, TextFont) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));

    // Panels in bitmap coordinates: the bitmap starts at the plot's top.
    auto shifted = [](PlotArea a) {
        const PlotArea s = Scaled(a);
        return PlotArea{s.left, s.top - PlotTop(), s.right, s.bottom - PlotTop()};
    };
    const PlotArea signal_area = shifted(kSignalPanel);
    const PlotArea distance_area = shifted(kDistancePanel);
    const int64_t end_local = LocalSecondsAt(w->clock, s.end_second * 1000);
    const std::vector<TimeTick> ticks = TimeTicks(end_local);
    DrawPanel(dc, s, signal_area, SignalAxis(s), ticks, "信号 (dB)", kSignalColour,
              [](const PlotPoint &p) { return static_cast<double>(p.signal); });
    DrawPanel(dc, s, distance_area, DistanceAxis(s), ticks, "距离 (cm)", kDistanceColour,
              [](const PlotPoint &p) { return static_cast<double>(p.distance); });
    for (const TimeTick &t : ticks)
        PutText(dc, t.label, PointX(t.index, distance_area), distance_area.bottom + AppPx(4), TA_CENTER | TA_TOP);

    // Key and state, right of the panels' titles.
    const int key_y = signal_area.top - AppPx(kTitleRise);
    FillArea(dc, width - AppPx(170), key_y + AppPx(3), width - AppPx(156), key_y + AppPx(15), kOfflineColour);
    PutText(dc, "掉线", width - AppPx(150), key_y, TA_LEFT | TA_TOP);
    PutText(dc, "最近十分钟，每秒一点", width - AppPx(330), key_y, TA_LEFT | TA_TOP);
    if (w->paused)
        PutText(dc, "已暂停", width - AppPx(20), distance_area.top - AppPx(kTitleRise), TA_RIGHT | TA_TOP);
    if (old_font != nullptr)
        SelectObject(dc, old_font);
    w->drawn_end = s.end_second;
    w->drawn_newest = s.newest;
    w->drawn_count = s.newest >= 0 ? s.points[s.newest].count : 0;
    w->drawn_paused = w->paused;
    RECT plot = {0, PlotTop(), width, ClientHeight()};
    InvalidateRect(w->window, &plot, FALSE);
}

bool PictureChanged(const FollowWindow *w)
{
    const PlotSeries &s = w->series;
    const uint16_t count = s.newest >= 0 ? s.points[s.newest].count : 0;
    return s.end_second != w->drawn_end || s.newest != w->drawn_newest || count != w->drawn_count ||
           w->paused != w->drawn_paused;
}

// --- refresh ------------------------------------------------------------------

void ShowTexts(FollowWindow *w, const FollowTexts &t)
{
    const std::string *texts[] = {&t.state, &t.current, &t.first_seen, &t.last_seen, &t.last_second,
                                  &t.total, &t.under_voltage, &t.extra, &t.newest};
    static_assert(sizeof texts / sizeof texts[0] == kFieldCount, "one text per field");
    for (int i = 0; i < kFieldCount; ++i)
        SetTextIfChanged(w->values[i], *texts[i]);
}

void Refresh(FollowWindow *w)
{
    if (w->paused)
        return;
    if (!SnapshotFollowedTag(w->id, &w->scratch)) {
        // Gone with a reset: say so, and keep the last picture.
        SetTextIfChanged(w->values[0], NotInTableText(w->id));
        return;
    }
    w->tag = w->scratch;
    w->clock = CurrentWallClock();
    BuildPlotSeries(w->tag.history, w->tag.picture_end_ms, &w->series);
    w->have_picture = true;
    ShowTexts(w, FormatFollowTexts(w->tag, w->series, w->clock));
    // A minimised window catches up when it is shown again (the end of the
    // picture moves every second).
    if (PictureChanged(w) && !IsIconic(w->window))
        DrawPicture(w);
}

void TogglePause(FollowWindow *w)
{
    w->paused = !w->paused;
    SetDlgItemTextA(w->window, IDC_FOLLOW_PAUSE, w->paused ? "继续" : "暂停");
    if (w->paused)
        DrawPicture(w); // the note that the picture stands still
    else
        Refresh(w);
}

void SaveHistory(FollowWindow *w)
{
    const SaveRequest request = {w->save_prefix.c_str(), L"csv", IDS_SAVE_FILTER};
    SaveThroughDialog(w->window, request, [w]() {
        // What the window shows: the frozen picture while paused or after a
        // reset, else the latest.
        Refresh(w);
        return w->have_picture ? TagHistoryCsv(w->tag, w->series, w->clock) : std::string("\xEF\xBB\xBF");
    });
}

bool CreateBuffer(FollowWindow *w)
{
    HDC screen = GetDC(w->window);
    w->buffer = CreateCompatibleDC(screen);
    w->bitmap = CreateCompatibleBitmap(screen, ClientWidth(), ClientHeight() - PlotTop());
    ReleaseDC(w->window, screen);
    if (w->buffer == nullptr || w->bitmap == nullptr)
        return false;
    w->old_bitmap = SelectObject(w->buffer, w->bitmap);
    return true;
}

void FreeBuffer(FollowWindow *w)
{
    if (w->buffer != nullptr && w->old_bitmap != nullptr)
        SelectObject(w->buffer, w->old_bitmap);
    if (w->bitmap != nullptr)
        DeleteObject(w->bitmap);
    if (w->buffer != nullptr)
        DeleteDC(w->buffer);
    w->buffer = nullptr;
    w->bitmap = nullptr;
}

void Forget(FollowWindow *w)
{
    for (FollowWindow *&slot : OpenWindows)
        if (slot == w)
            slot = nullptr;
}

// Hands a window its state: from WM_NCCREATE on the window owns it and
// frees it on WM_NCDESTROY, also when its creation fails later.
struct Adoption {
    FollowWindow *state;
    bool adopted;
};

LRESULT CALLBACK FollowWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    FollowWindow *w = StateOf(window);
    switch (message) {
    case WM_NCCREATE: {
        Adoption *a = static_cast<Adoption *>(reinterpret_cast<CREATESTRUCTA *>(lparam)->lpCreateParams);
        a->adopted = true;
        a->state->window = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(a->state));
        return DefWindowProcA(window, message, wparam, lparam);
    }
    case WM_CREATE: {
        if (w == nullptr || !CreateBuffer(w))
            return -1;
        CreateControls(w);
        Refresh(w);
        if (!w->have_picture) {
            // An empty picture, ending now, until the tag is in the table.
            w->clock = CurrentWallClock();
            w->series.end_second = SecondOfMs(w->clock.steady_ms);
            w->series.newest = -1;
            DrawPicture(w);
        }
        SetTimer(window, kRefreshTimer, kRefreshMs, nullptr);
        return 0;
    }
    case WM_TIMER:
        if (w != nullptr && wparam == kRefreshTimer)
            Refresh(w);
        return 0;
    case WM_COMMAND:
        if (w == nullptr)
            return 0;
        if (LOWORD(wparam) == IDC_FOLLOW_PAUSE)
            TogglePause(w);
        else if (LOWORD(wparam) == IDC_FOLLOW_SAVE)
            SaveHistory(w);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        if (w != nullptr && w->buffer != nullptr)
            BitBlt(dc, 0, PlotTop(), ClientWidth(), ClientHeight() - PlotTop(), w->buffer, 0, 0, SRCCOPY);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_CTLCOLORSTATIC:
        SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_DESTROY:
        if (w != nullptr) {
            KillTimer(window, kRefreshTimer);
            Forget(w);
            FreeBuffer(w);
        }
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        delete w;
        return DefWindowProcA(window, message, wparam, lparam);
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

bool RegisterFollowClass()
{
    static bool registered = false;
    if (registered)
        return true;
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = FollowWindowProc;
    wc.hInstance = AppInstance;
    wc.hIcon = LoadIconA(AppInstance, MAKEINTRESOURCEA(IDI_TARNWICK));
    wc.hIconSm = wc.hIcon;
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kFollowWindowClass;
    registered = RegisterClassExA(&wc) != 0;
    return registered;
}

} // namespace

void SetFollowWindowFont(HFONT font)
{
    TextFont = font;
}

HWND OpenFollowWindow(HWND owner, uint32_t id)
{
    int open = 0;
    for (FollowWindow *w : OpenWindows) {
        if (w == nullptr)
            continue;
        ++open;
        if (w->id == id) {
            ShowWindow(w->window, SW_RESTORE);
            SetForegroundWindow(w->window);
            return w->window;
        }
    }
    if (open >= kMaxFollowWindows) {
        char text[64];
        std::snprintf(text, sizeof text, "最多同时跟踪 %d 个标签", kMaxFollowWindows);
        MessageBoxA(owner, text, nullptr, MB_ICONINFORMATION);
        return nullptr;
    }
    if (!RegisterFollowClass())
        return nullptr;

    std::unique_ptr<FollowWindow> w(new FollowWindow);
    w->id = id;
    w->save_prefix = L"tarnwick-tag" + std::to_wstring(id);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame = {0, 0, ClientWidth(), ClientHeight()};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    RECT owner_rect = {};
    GetWindowRect(owner, &owner_rect);
    const int x = owner_rect.left + AppPx(40 + kCascadeStep * open);
    const int y = owner_rect.top + AppPx(40 + kCascadeStep * open);
    const std::string title = FollowTitle(id);
    FollowWindow *state = w.get();
    Adoption adoption = {state, false};
    HWND window = CreateWindowExA(0, kFollowWindowClass, title.c_str(), style, x, y, frame.right - frame.left,
                                  frame.bottom - frame.top, owner, nullptr, AppInstance, &adoption);
    if (adoption.adopted)
        w.release(); // the window's now, freed on WM_NCDESTROY even if creation failed
    if (window == nullptr)
        return nullptr;
    for (FollowWindow *&slot : OpenWindows) {
        if (slot == nullptr) {
            slot = state;
            break;
        }
    }
    ShowWindow(window, SW_SHOWNORMAL);
    return window;
}
