// Find box, Ctrl+F, the row mark and double-clicks on the grid (see
// tag_find_win32.h).
//
// The mark is kept as the page and the tag ID found, not as a row: the cell
// painter asks for each row whether the ID its second cell shows is the
// marked one, so the frame moves with the tag when new tags push it down
// the page, and leaves no trace when it moves off the page.
#include "tagbench/win32/tag_find_win32.h"

#include <cstdio>
#include <cstring>

#include "shell/win32/app_shell.h"
#include "tagbench/grid_format.h"
#include "tagbench/tag_find.h"
#include "tagbench/tag_table.h"
#include "tagbench/win32/tag_bench_dialog.h"
#include "tagbench/win32/tag_follow_resources.h"
#include "tagbench/win32/tag_follow_win32.h"

namespace {

constexpr int kHeaderCells = kGridColumns;
constexpr int kMarkWidth = 2; // pixels at 96 DPI (AppPx)
constexpr COLORREF kMarkColour = RGB(0, 0, 255);
constexpr int kIdColumn = 1;

// GUI thread only.
HWND MainDialog;
HWND MainWindow;
HWND FindBox;
HBRUSH MarkBrush;
struct {
    bool active;
    int page;
    uint32_t id;
} Mark;

HWND Cell(int k)
{
    return GetDlgItem(MainDialog, GridCellIds[k]);
}

void RepaintRows()
{
    for (int k = kHeaderCells; k < kGridCellCount; ++k)
        InvalidateRect(Cell(k), nullptr, FALSE);
}

// The ID shown in a grid row, if the row shows a tag.
bool RowId(int row, uint32_t *id)
{
    char text[kGridCellTextSize] = {};
    GetWindowTextA(Cell(kHeaderCells + kGridColumns * row + kIdColumn), text, sizeof text);
    return ParseTagId(text, id);
}

void Tell(HWND owner, const char *text)
{
    MessageBoxA(owner, text, nullptr, MB_ICONINFORMATION);
}

// The ID in the find box, or a message on it.
bool ReadFindBoxId(HWND box, uint32_t *id)
{
    char text[64] = {};
    GetDlgItemTextA(box, IDC_FIND_ID, text, sizeof text);
    if (ParseTagId(text, id))
        return true;
    Tell(box, kTagIdInputMessage);
    return false;
}

bool LocateOrTell(HWND box, uint32_t id, TagLocation *where)
{
    if (LocateTag(id, where))
        return true;
    Tell(box, TagNotFoundMessage(id).c_str());
    return false;
}

void SelectFindBoxText(HWND box)
{
    HWND edit = GetDlgItem(box, IDC_FIND_ID);
    SetFocus(edit);
    SendMessageA(edit, EM_SETSEL, 0, -1);
}

// The tag the find box names, if it is in the table; otherwise the user is
// told why not and the field is selected for another try.
bool FoundTag(HWND box, uint32_t *id, TagLocation *where)
{
    if (ReadFindBoxId(box, id) && LocateOrTell(box, *id, where))
        return true;
    SelectFindBoxText(box);
    return false;
}

void FindAndMark(HWND box)
{
    uint32_t id = 0;
    TagLocation where = {};
    if (!FoundTag(box, &id, &where))
        return;
    Mark = {true, where.page, id};
    PageIndex = where.page;
    RefreshPage();
    RepaintRows();
    SelectFindBoxText(box);
}

void FollowFromFindBox(HWND box)
{
    uint32_t id = 0;
    TagLocation where = {};
    if (FoundTag(box, &id, &where))
        OpenFollowWindow(MainWindow, id);
}

INT_PTR CALLBACK FindBoxProc(HWND box, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SendDlgItemMessageA(box, IDC_FIND_ID, EM_LIMITTEXT, 40, 0);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDOK:
            FindAndMark(box);
            return TRUE;
        case IDC_FIND_FOLLOW:
            FollowFromFindBox(box);
            return TRUE;
        case IDCANCEL:
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

// Over the band of the main dialog's left side between the reminder and
// the status groups, so that it hides neither the grid nor the port
// controls (dialog units of the main dialog).
void PlaceFindBox(HWND box)
{
    RECT at = {15, 117, 0, 0};
    MapDialogRect(MainDialog, &at);
    POINT corner = {at.left, at.top};
    ClientToScreen(MainDialog, &corner);
    SetWindowPos(box, nullptr, corner.x, corner.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool IsCtrlF(const MSG *m)
{
    return m->message == WM_KEYDOWN && m->wParam == 'F' && (GetKeyState(VK_CONTROL) & 0x8000) != 0 &&
           (GetKeyState(VK_MENU) & 0x8000) == 0 && (GetKeyState(VK_SHIFT) & 0x8000) == 0;
}

} // namespace

void OpenFindBox(HWND main_window)
{
    if (FindBox == nullptr) {
        FindBox = CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(IDD_FIND_TAG), main_window, FindBoxProc, 0);
        if (FindBox == nullptr)
            return;
        PlaceFindBox(FindBox);
    }
    ShowWindow(FindBox, SW_SHOW);
    SetForegroundWindow(FindBox);
    SetActiveWindow(FindBox);
    SelectFindBoxText(FindBox);
}

bool TarnwickPreTranslate(MSG *message)
{
    if (MainWindow != nullptr && IsCtrlF(message) && message->hwnd != nullptr &&
        GetAncestor(message->hwnd, GA_ROOTOWNER) == MainWindow) {
        OpenFindBox(MainWindow);
        return true;
    }
    return FindBox != nullptr && IsDialogMessageA(FindBox, message);
}

void PrepareGridForFinding(HWND dialog)
{
    MainDialog = dialog;
    MainWindow = GetParent(dialog);
    MarkBrush = CreateSolidBrush(kMarkColour); // lives as long as the dialog, like its other brushes
    for (int k = kHeaderCells; k < kGridCellCount; ++k) {
        HWND cell = Cell(k);
        SetWindowLongA(cell, GWL_STYLE, GetWindowLongA(cell, GWL_STYLE) | SS_NOTIFY);
    }
    SetFollowWindowFont(reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0)));
}

void NoteGridPage(int page_index)
{
    if (!Mark.active || page_index == Mark.page)
        return;
    ClearGridMark();
}

void ClearGridMark()
{
    if (!Mark.active)
        return;
    Mark.active = false;
    RepaintRows();
}

void DrawGridMark(const DRAWITEMSTRUCT *item, int cell)
{
    if (!Mark.active || cell < kHeaderCells || PageIndex != Mark.page)
        return;
    const int row = (cell - kHeaderCells) / kGridColumns;
    const int column = (cell - kHeaderCells) % kGridColumns;
    uint32_t id = 0;
    if (!RowId(row, &id) || id != Mark.id)
        return;
    // The row's frame, drawn inside its cells: top and bottom edge of every
    // cell, the left edge of the first and the right edge of the last.
    const RECT &r = item->rcItem;
    const int width = AppPx(kMarkWidth);
    RECT edges[4] = {
        {r.left, r.top, r.right, r.top + width},
        {r.left, r.bottom - width, r.right, r.bottom},
        {r.left, r.top, r.left + width, r.bottom},
        {r.right - width, r.top, r.right, r.bottom},
    };
    FillRect(item->hDC, &edges[0], MarkBrush);
    FillRect(item->hDC, &edges[1], MarkBrush);
    if (column == 0)
        FillRect(item->hDC, &edges[2], MarkBrush);
    if (column == kGridColumns - 1)
        FillRect(item->hDC, &edges[3], MarkBrush);
}

void OnGridCommand(int control_id, int notification)
{
    if (notification != STN_DBLCLK)
        return;
    for (int k = kHeaderCells; k < kGridCellCount; ++k) {
        if (GridCellIds[k] != control_id)
            continue;
        uint32_t id = 0;
        if (RowId((k - kHeaderCells) / kGridColumns, &id))
            OpenFollowWindow(MainWindow, id);
        return;
    }
}
