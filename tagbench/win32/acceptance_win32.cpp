// The batch check window (see acceptance_win32.h): the dialog, the refresh,
// the virtual list and its colours, reading the list file, the export.
//
// All texts are UTF-8 (the core's and the u8 literals here) and go to the
// window through the wide API, so the dialog shows them whatever code page
// the system runs with.
#include "tagbench/win32/acceptance_win32.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cstdio>
#include <string>
#include <vector>

#include "shell/win32/app_shell.h"
#include "shell/win32/save_file_win32.h"
#include "shell/win32/shell_resources.h"
#include "tagbench/acceptance.h"
#include "tagbench/frame_assembler.h"
#include "tagbench/tag_find.h"
#include "tagbench/win32/acceptance_settings_win32.h"
#include "tagbench/win32/tag_accept_resources.h"
#include "tagbench/win32/tag_follow_win32.h"
#include "tagbench/win32/wall_clock_win32.h"

namespace {

constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 1000;

const int kCountIds[] = {IDC_ACCEPT_EXPECTED, IDC_ACCEPT_ARRIVED, IDC_ACCEPT_PASSED,
                         IDC_ACCEPT_MISSING,  IDC_ACCEPT_UNDER_VOLTAGE_COUNT, IDC_ACCEPT_WEAK,
                         IDC_ACCEPT_OFFLINE_COUNT, IDC_ACCEPT_UNEXPECTED};

struct Column {
    const char *title;
    int width; // pixels
};
const Column kColumns[] = {{u8"卡号", 86}, {u8"结果", 52}, {u8"原因", 206}, {u8"报告次数", 72}, {u8"信号 dB", 64},
                           {u8"最后出现", 70}};

// Row colours by result, in AcceptResult order: 缺失 the grid's header
// grey, 掉线 the grid's offline red, then the milder faults.
const COLORREF kResultColours[kAcceptResultCount] = {
    RGB(200, 200, 200), RGB(255, 0, 0), RGB(255, 225, 110), RGB(255, 190, 140), RGB(200, 220, 255),
    RGB(255, 255, 255)};
constexpr COLORREF kPassColour = RGB(0, 128, 0);
constexpr COLORREF kFailColour = RGB(200, 0, 0);

// The window's state; GUI thread only.
struct {
    HWND window = nullptr;
    HWND main = nullptr;
    HWND list = nullptr;
    ExpectedList expected;
    std::string file_name; // UTF-8; empty for a range
    AcceptanceCriteria criteria;
    std::string signal_problem;  // the 最低信号 field does not read
    std::string reports_problem; // the 至少报告次数 field does not read
    bool loading = false;        // filling the fields: their changes are ours
    std::vector<AcceptanceTag> tags;
    AcceptanceJudgement judgement;
    WallClock clock = {};
    wchar_t cell[512] = {};
} W;

std::wstring Wide(const std::string &utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
    return out;
}

void SetText(int id, const std::string &utf8)
{
    const std::wstring text = Wide(utf8);
    wchar_t shown[512] = {};
    GetDlgItemTextW(W.window, id, shown, 512);
    if (text != shown)
        SetDlgItemTextW(W.window, id, text.c_str());
}

std::string ItemText(int id)
{
    wchar_t text[128] = {};
    GetDlgItemTextW(W.window, id, text, 128);
    return WideToUtf8(text);
}

void Tell(const std::string &utf8)
{
    MessageBoxW(W.window, Wide(utf8).c_str(), nullptr, MB_OK | MB_ICONINFORMATION);
}

// --- the refresh ----------------------------------------------------------------

std::string NoteText()
{
    std::string note = W.signal_problem;
    if (!W.reports_problem.empty())
        note += (note.empty() ? "" : u8"；") + W.reports_problem;
    if (!note.empty())
        return note;
    note = AcceptanceIncompleteNote(W.judgement.refused);
    if (CaptureEnabled.load(std::memory_order_acquire) == 0)
        note += (note.empty() ? "" : u8"；") + std::string(u8"串口未打开，按标签表最后的内容判断");
    return note;
}

void Refresh()
{
    if (W.window == nullptr)
        return;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);

    int32_t refused = 0;
    SnapshotForAcceptance(&W.tags, &refused);
    JudgeAcceptance(W.expected.ids, W.tags, W.criteria, refused, &W.judgement);
    LARGE_INTEGER judged;
    QueryPerformanceCounter(&judged);
    W.clock = CurrentWallClock();
    const AcceptanceCounts &n = W.judgement.counts;
    const uint32_t counts[] = {n.expected, n.arrived, n.passed,  n.missing,
                               n.under_voltage, n.weak, n.offline, n.unexpected};
    for (size_t i = 0; i < sizeof counts / sizeof counts[0]; ++i)
        SetText(kCountIds[i], std::to_string(counts[i]));
    SetText(IDC_ACCEPT_VERDICT, AcceptanceVerdict(n));
    SetText(IDC_ACCEPT_NOTE, NoteText());
    // A new count costs the list a relayout; most seconds it stays, and the
    // rows on show are drawn again from the new judgement when they repaint.
    const int rows = static_cast<int>(W.judgement.failing.size());
    if (rows != ListView_GetItemCount(W.list))
        ListView_SetItemCountEx(W.list, rows, LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    InvalidateRect(W.list, nullptr, FALSE);

    QueryPerformanceCounter(&end);
    const double scale = 1000.0 / static_cast<double>(frequency.QuadPart);
    const double judge_ms = static_cast<double>(judged.QuadPart - start.QuadPart) * scale;
    const double ms = static_cast<double>(end.QuadPart - start.QuadPart) * scale;
    char timing[128];
    std::snprintf(timing, sizeof timing, u8"本次判断 %.2f ms，刷新 %.2f ms", judge_ms, ms);
    SetText(IDC_ACCEPT_TIMING, timing);
}

// --- the list ---------------------------------------------------------------------

const AcceptanceRow *FailingRow(int item)
{
    if (item < 0 || static_cast<size_t>(item) >= W.judgement.failing.size())
        return nullptr;
    return &W.judgement.rows[W.judgement.failing[static_cast<size_t>(item)]];
}

std::string CellText(const AcceptanceRow &row, int column)
{
    switch (column) {
    case 0:
        return std::to_string(row.tag.id);
    case 1:
        return AcceptResultName(row.result);
    case 2:
        return AcceptanceReason(row, W.criteria);
    case 3:
        return std::to_string(row.tag.reports);
    case 4:
        return row.in_table ? std::to_string(row.tag.signal) : "";
    case 5:
        return row.in_table ? FormatLocalClock(LocalSecondsAt(W.clock, row.tag.last_ms)) : "";
    default:
        return "";
    }
}

void FillCell(NMLVDISPINFOW *info)
{
    if ((info->item.mask & LVIF_TEXT) == 0)
        return;
    const AcceptanceRow *row = FailingRow(info->item.iItem);
    const std::wstring text = row != nullptr ? Wide(CellText(*row, info->item.iSubItem)) : std::wstring();
    lstrcpynW(W.cell, text.c_str(), sizeof W.cell / sizeof W.cell[0]);
    info->item.pszText = W.cell;
}

LRESULT PaintRow(NMLVCUSTOMDRAW *draw)
{
    if (draw->nmcd.dwDrawStage == CDDS_PREPAINT)
        return CDRF_NOTIFYITEMDRAW;
    if (draw->nmcd.dwDrawStage != CDDS_ITEMPREPAINT)
        return CDRF_DODEFAULT;
    const AcceptanceRow *row = FailingRow(static_cast<int>(draw->nmcd.dwItemSpec));
    if (row != nullptr) {
        draw->clrTextBk = kResultColours[static_cast<int>(row->result)];
        draw->clrText = RGB(0, 0, 0);
    }
    return CDRF_DODEFAULT;
}

void FollowItem(int item)
{
    const AcceptanceRow *row = FailingRow(item);
    if (row != nullptr)
        OpenFollowWindow(W.main, row->tag.id);
}

int SelectedItem()
{
    return static_cast<int>(SendMessageW(W.list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void PrepareList()
{
    W.list = GetDlgItem(W.window, IDC_ACCEPT_LIST);
    SendMessageW(W.list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (int i = 0; i < static_cast<int>(sizeof kColumns / sizeof kColumns[0]); ++i) {
        std::wstring title = Wide(kColumns[i].title);
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.cx = kColumns[i].width;
        column.pszText = &title[0];
        column.iSubItem = i;
        SendMessageW(W.list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
}

// --- the expected list ----------------------------------------------------------------

void UseList(const ExpectedList &list, const std::string &file_name)
{
    W.expected = list;
    W.file_name = file_name;
    SetText(IDC_ACCEPT_SOURCE, ExpectedSourceText(list, file_name));
    Refresh();
}

void ApplyRange()
{
    uint32_t first = 0;
    uint32_t last = 0;
    if (!ParseTagId(ItemText(IDC_ACCEPT_FIRST).c_str(), &first) ||
        !ParseTagId(ItemText(IDC_ACCEPT_LAST).c_str(), &last)) {
        Tell(u8"请输入起始和结束ID号（0 - 4294967295）");
        return;
    }
    ExpectedList list;
    if (first > last) {
        Tell(u8"起始ID号不能大于结束ID号");
        return;
    }
    if (!ExpectedRange(first, last, &list)) {
        Tell(u8"一次最多验收 " + std::to_string(kMaxExpectedTags) + u8" 个标签（标签表的容量）");
        return;
    }
    UseList(list, "");
}

// The whole file, or the system's error code. A journal that Pellfray is
// still writing is open there for writing: it is shared, not locked.
DWORD ReadWholeFile(const std::wstring &path, std::string *bytes, bool *too_large)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    DWORD error = 0;
    LARGE_INTEGER size = {};
    *too_large = false;
    if (!GetFileSizeEx(file, &size)) {
        error = GetLastError();
    } else if (static_cast<uint64_t>(size.QuadPart) > kMaxListFileBytes) {
        *too_large = true;
    } else {
        bytes->resize(static_cast<size_t>(size.QuadPart));
        DWORD done = 0;
        while (error == 0 && done < bytes->size()) {
            DWORD got = 0;
            if (!ReadFile(file, &(*bytes)[done], static_cast<DWORD>(bytes->size() - done), &got, nullptr))
                error = GetLastError();
            else if (got == 0)
                bytes->resize(done); // shorter than it was a moment ago
            done += got;
        }
    }
    CloseHandle(file);
    return error;
}

void ChooseFile()
{
    wchar_t path[MAX_PATH] = {};
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = W.window;
    ofn.lpstrFilter = L"CSV \x6216\x6587\x672C\x6587\x4EF6 (*.csv;*.txt)\0*.csv;*.txt\0"
                      L"\x6240\x6709\x6587\x4EF6 (*.*)\0*.*\0";
    ofn.lpstrFile = path;
    ofn.nMaxFile = MAX_PATH;
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&ofn))
        return;
    std::string bytes;
    bool too_large = false;
    const DWORD error = ReadWholeFile(path, &bytes, &too_large);
    if (error != 0) {
        ShowFileFailure(W.window, IDS_ACCEPT_READ_FAILED, path, error);
        return;
    }
    ExpectedList list;
    const ListProblem problem = too_large ? ListProblem::kTooLarge : ReadExpectedList(bytes, &list);
    if (problem != ListProblem::kNone) {
        Tell(ListProblemText(problem));
        return;
    }
    UseList(list, WideToUtf8(path + ofn.nFileOffset));
    const std::string note = ExpectedListNote(list);
    if (!note.empty())
        Tell(note);
}

// --- the criteria -----------------------------------------------------------------

void ShowCriteria()
{
    W.loading = true;
    SetText(IDC_ACCEPT_MIN_SIGNAL, std::to_string(W.criteria.min_signal));
    SetText(IDC_ACCEPT_MIN_REPORTS, std::to_string(W.criteria.min_reports));
    CheckDlgButton(W.window, IDC_ACCEPT_UNDER_VOLTAGE, W.criteria.under_voltage_fails ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(W.window, IDC_ACCEPT_OFFLINE, W.criteria.offline_fails ? BST_CHECKED : BST_UNCHECKED);
    W.loading = false;
}

// A field that does not read keeps the criterion it had, and the note says so.
void ReadCriteria()
{
    int64_t value = 0;
    if (ParseCriterion(ItemText(IDC_ACCEPT_MIN_SIGNAL), kMinSignalLowest, kMinSignalHighest, &value)) {
        W.criteria.min_signal = static_cast<int32_t>(value);
        W.signal_problem.clear();
    } else {
        W.signal_problem = u8"最低信号应为 -128 到 127 的整数，仍按 " + std::to_string(W.criteria.min_signal) +
                           u8" dB 判断";
    }
    if (ParseCriterion(ItemText(IDC_ACCEPT_MIN_REPORTS), 1, kMinReportsHighest, &value)) {
        W.criteria.min_reports = static_cast<uint32_t>(value);
        W.reports_problem.clear();
    } else {
        W.reports_problem = u8"至少报告次数应为 1 到 1000000 的整数，仍按 " + std::to_string(W.criteria.min_reports) +
                            u8" 次判断";
    }
    W.criteria.under_voltage_fails = IsDlgButtonChecked(W.window, IDC_ACCEPT_UNDER_VOLTAGE) == BST_CHECKED;
    W.criteria.offline_fails = IsDlgButtonChecked(W.window, IDC_ACCEPT_OFFLINE) == BST_CHECKED;
    SaveAcceptanceCriteria(W.criteria);
    Refresh();
}

// --- export -----------------------------------------------------------------------

void Export()
{
    const SaveRequest request = {L"tarnwick-acceptance", L"csv", IDS_SAVE_FILTER};
    SaveThroughDialog(W.window, request, []() {
        Refresh(); // what the window shows at the moment of saving
        return AcceptanceCsv(W.judgement, W.criteria, W.clock);
    });
}

// --- the dialog ---------------------------------------------------------------------

void Place(HWND window, HWND owner)
{
    RECT o = {};
    RECT r = {};
    GetWindowRect(owner, &o);
    GetWindowRect(window, &r);
    const int x = o.left + ((o.right - o.left) - (r.right - r.left)) / 2;
    const int y = o.top + 60;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool OnCommand(int id, int code)
{
    switch (id) {
    case IDC_ACCEPT_RANGE:
        ApplyRange();
        return true;
    case IDC_ACCEPT_FILE:
        ChooseFile();
        return true;
    case IDC_ACCEPT_EXPORT:
        Export();
        return true;
    case IDC_ACCEPT_MIN_SIGNAL:
    case IDC_ACCEPT_MIN_REPORTS:
        if (code == EN_CHANGE && !W.loading)
            ReadCriteria();
        return true;
    case IDC_ACCEPT_UNDER_VOLTAGE:
    case IDC_ACCEPT_OFFLINE:
        if (code == BN_CLICKED && !W.loading)
            ReadCriteria();
        return true;
    case IDOK: {
        // Enter: in the range it applies it, in the criteria nothing more
        // (they apply as typed), elsewhere it follows the selected tag.
        const HWND focus = GetFocus();
        if (focus == GetDlgItem(W.window, IDC_ACCEPT_FIRST) || focus == GetDlgItem(W.window, IDC_ACCEPT_LAST))
            ApplyRange();
        else if (focus != GetDlgItem(W.window, IDC_ACCEPT_MIN_SIGNAL) &&
                 focus != GetDlgItem(W.window, IDC_ACCEPT_MIN_REPORTS))
            FollowItem(SelectedItem());
        return true;
    }
    case IDCANCEL:
        DestroyWindow(W.window);
        return true;
    default:
        return false;
    }
}

INT_PTR OnNotify(HWND dialog, const NMHDR *header)
{
    if (header->idFrom != IDC_ACCEPT_LIST)
        return FALSE;
    switch (header->code) {
    case LVN_GETDISPINFOW:
        FillCell(reinterpret_cast<NMLVDISPINFOW *>(const_cast<NMHDR *>(header)));
        return TRUE;
    case NM_CUSTOMDRAW:
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT,
                          PaintRow(reinterpret_cast<NMLVCUSTOMDRAW *>(const_cast<NMHDR *>(header))));
        return TRUE;
    case NM_DBLCLK:
        FollowItem(reinterpret_cast<const NMITEMACTIVATE *>(header)->iItem);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK AcceptanceProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        W.window = dialog;
        PrepareList();
        W.criteria = LoadAcceptanceCriteria();
        W.signal_problem.clear();
        W.reports_problem.clear();
        ShowCriteria();
        SendDlgItemMessageW(dialog, IDC_ACCEPT_FIRST, EM_LIMITTEXT, 16, 0);
        SendDlgItemMessageW(dialog, IDC_ACCEPT_LAST, EM_LIMITTEXT, 16, 0);
        // Opened again: the list checked before, and its range if it was one.
        SetText(IDC_ACCEPT_SOURCE, ExpectedSourceText(W.expected, W.file_name));
        if (!W.expected.ids.empty() && W.file_name.empty()) {
            SetText(IDC_ACCEPT_FIRST, std::to_string(W.expected.ids.front()));
            SetText(IDC_ACCEPT_LAST, std::to_string(W.expected.ids.back()));
        }
        Refresh();
        SetTimer(dialog, kRefreshTimer, kRefreshMs, nullptr);
        return TRUE;
    case WM_TIMER:
        if (wparam == kRefreshTimer)
            Refresh();
        return TRUE;
    case WM_COMMAND:
        return OnCommand(LOWORD(wparam), HIWORD(wparam)) ? TRUE : FALSE;
    case WM_NOTIFY:
        return OnNotify(dialog, reinterpret_cast<const NMHDR *>(lparam));
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lparam) == GetDlgItem(dialog, IDC_ACCEPT_VERDICT) &&
            W.judgement.counts.expected != 0) {
            const HDC dc = reinterpret_cast<HDC>(wparam);
            const AcceptanceCounts &n = W.judgement.counts;
            SetTextColor(dc, n.passed == n.expected ? kPassColour : kFailColour);
            SetBkMode(dc, TRANSPARENT);
            return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
        }
        return FALSE;
    case WM_DESTROY:
        KillTimer(dialog, kRefreshTimer);
        W.window = nullptr;
        W.list = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

void OpenAcceptanceWindow(HWND main_window)
{
    W.main = main_window;
    if (W.window == nullptr) {
        HWND window = CreateDialogParamW(AppInstance, MAKEINTRESOURCEW(IDD_ACCEPT), main_window, AcceptanceProc, 0);
        if (window == nullptr)
            return;
        Place(window, main_window);
    }
    ShowWindow(W.window, SW_SHOWNORMAL);
    SetForegroundWindow(W.window);
}

bool AcceptancePreTranslate(MSG *message)
{
    return W.window != nullptr && IsDialogMessageW(W.window, message);
}
