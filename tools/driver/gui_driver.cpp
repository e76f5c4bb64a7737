#include "tools/driver/gui_driver.h"

#include <cstdio>

namespace gui {

Program::~Program() { Kill(); }

bool Program::Start(const std::string &exe, const std::string &args)
{
    std::string cmd = "\"" + exe + "\"";
    if (!args.empty())
        cmd += " " + args;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    WaitForInputIdle(process_, 5000);
    return true;
}

bool Program::WaitExit(DWORD timeout_ms, DWORD *exit_code)
{
    if (!process_)
        return true;
    if (WaitForSingleObject(process_, timeout_ms) != WAIT_OBJECT_0)
        return false;
    if (exit_code)
        GetExitCodeProcess(process_, exit_code);
    return true;
}

void Program::Kill()
{
    if (!process_)
        return;
    if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
    process_ = nullptr;
}

namespace {

struct FindArgs {
    const char *class_name;
    const char *title;
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindTop(HWND hwnd, LPARAM lp)
{
    auto *args = reinterpret_cast<FindArgs *>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (args->pid && pid != args->pid)
        return TRUE;
    char cls[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (args->class_name && lstrcmpA(cls, args->class_name) != 0)
        return TRUE;
    if (args->title && Text(hwnd) != args->title)
        return TRUE;
    if (!IsWindowVisible(hwnd))
        return TRUE;
    args->found = hwnd;
    return FALSE;
}

HWND FindTopWindow(const char *cls, const char *title, DWORD pid)
{
    FindArgs args = {cls, title, pid, nullptr};
    EnumWindows(FindTop, reinterpret_cast<LPARAM>(&args));
    return args.found;
}

} // namespace

HWND WaitForWindow(const char *class_name, DWORD pid, DWORD timeout_ms)
{
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindTopWindow(class_name, nullptr, pid)) != nullptr; }, timeout_ms);
    return found;
}

HWND WaitForChildDialog(HWND main, DWORD timeout_ms)
{
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindWindowExA(main, nullptr, "#32770", nullptr)) != nullptr; }, timeout_ms);
    return found;
}

HWND WaitForPopup(DWORD pid, const char *title_or_null, DWORD timeout_ms)
{
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindTopWindow("#32770", title_or_null, pid)) != nullptr; }, timeout_ms);
    return found;
}

int CountPopups(DWORD pid)
{
    struct Count {
        DWORD pid;
        int n;
    } count = {pid, 0};
    EnumWindows(
        [](HWND hwnd, LPARAM lp) -> BOOL {
            auto *c = reinterpret_cast<Count *>(lp);
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            char cls[16] = {};
            GetClassNameA(hwnd, cls, sizeof cls);
            if (owner == c->pid && lstrcmpA(cls, "#32770") == 0 && IsWindowVisible(hwnd))
                ++c->n;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count.n;
}

HWND Control(HWND dialog, int id) { return GetDlgItem(dialog, id); }

std::string Text(HWND window)
{
    char buf[4096] = {};
    LRESULT n = SendMessageA(window, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf));
    return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string Text(HWND dialog, int id) { return Text(Control(dialog, id)); }
bool Enabled(HWND dialog, int id) { return IsWindowEnabled(Control(dialog, id)) != FALSE; }
bool Checked(HWND dialog, int id) { return SendMessageA(Control(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void SetText(HWND dialog, int id, const std::string &text)
{
    SendMessageA(Control(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Click(HWND dialog, int id) { SendMessageA(Control(dialog, id), BM_CLICK, 0, 0); }
void ClickAsync(HWND dialog, int id) { PostMessageA(Control(dialog, id), BM_CLICK, 0, 0); }

void Type(HWND dialog, int id, const std::string &chars)
{
    HWND edit = Control(dialog, id);
    for (unsigned char c : chars)
        SendMessageA(edit, WM_CHAR, c, 1);
}

int ComboCount(HWND dialog, int id) { return static_cast<int>(SendMessageA(Control(dialog, id), CB_GETCOUNT, 0, 0)); }
int ComboSelection(HWND dialog, int id) { return static_cast<int>(SendMessageA(Control(dialog, id), CB_GETCURSEL, 0, 0)); }

namespace {

// Wine hands the ANSI item-text messages of another process's combo or list
// box back as UTF-16, so item texts are read in the wide form and converted
// to the ANSI code page the programs use.
std::string ItemText(HWND control, UINT len_msg, UINT text_msg, int index)
{
    LRESULT len = SendMessageW(control, len_msg, index, 0);
    if (len < 0)
        return {};
    std::wstring wide(static_cast<size_t>(len) + 1, L'\0');
    LRESULT got = SendMessageW(control, text_msg, index, reinterpret_cast<LPARAM>(&wide[0]));
    if (got < 0)
        return {};
    wide.resize(static_cast<size_t>(got));
    int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), &text[0], n, nullptr, nullptr);
    return text;
}

} // namespace

std::string ComboItem(HWND dialog, int id, int index)
{
    return ItemText(Control(dialog, id), CB_GETLBTEXTLEN, CB_GETLBTEXT, index);
}

std::vector<std::string> ComboItems(HWND dialog, int id)
{
    std::vector<std::string> items;
    int n = ComboCount(dialog, id);
    for (int i = 0; i < n; ++i)
        items.push_back(ComboItem(dialog, id, i));
    return items;
}

bool ComboSelect(HWND dialog, int id, const std::string &text)
{
    int n = ComboCount(dialog, id);
    for (int i = 0; i < n; ++i) {
        if (ComboItem(dialog, id, i) == text) {
            SendMessageA(Control(dialog, id), CB_SETCURSEL, i, 0);
            return true;
        }
    }
    return false;
}

int ListCount(HWND dialog, int id) { return static_cast<int>(SendMessageA(Control(dialog, id), LB_GETCOUNT, 0, 0)); }

std::string ListItem(HWND dialog, int id, int index)
{
    return ItemText(Control(dialog, id), LB_GETTEXTLEN, LB_GETTEXT, index);
}

bool CaptureWindow(HWND window, Capture *out)
{
    RECT r;
    if (!GetWindowRect(window, &r))
        return false;
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0)
        return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h; // top row first
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (dib) {
        HGDIOBJ old = SelectObject(mem, dib);
        ok = BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY) != FALSE;
        GdiFlush();
        if (ok) {
            out->width = w;
            out->height = h;
            out->pixels.assign(static_cast<const uint32_t *>(bits), static_cast<const uint32_t *>(bits) + static_cast<size_t>(w) * h);
            for (auto &p : out->pixels)
                p &= 0x00FFFFFF;
        }
        SelectObject(mem, old);
        DeleteObject(dib);
    }
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

bool SaveBmp(const Capture &c, const std::string &path)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const int row = (c.width * 3 + 3) & ~3;
    BITMAPFILEHEADER fh = {};
    BITMAPINFOHEADER ih = {};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof ih;
    fh.bfSize = fh.bfOffBits + static_cast<DWORD>(row) * c.height;
    ih.biSize = sizeof ih;
    ih.biWidth = c.width;
    ih.biHeight = c.height; // bottom row first on disk
    ih.biPlanes = 1;
    ih.biBitCount = 24;
    std::fwrite(&fh, sizeof fh, 1, f);
    std::fwrite(&ih, sizeof ih, 1, f);
    std::vector<unsigned char> line(static_cast<size_t>(row), 0);
    for (int y = c.height - 1; y >= 0; --y) {
        for (int x = 0; x < c.width; ++x) {
            uint32_t p = c.At(x, y);
            line[static_cast<size_t>(x) * 3 + 0] = static_cast<unsigned char>(p & 0xFF);
            line[static_cast<size_t>(x) * 3 + 1] = static_cast<unsigned char>((p >> 8) & 0xFF);
            line[static_cast<size_t>(x) * 3 + 2] = static_cast<unsigned char>((p >> 16) & 0xFF);
        }
        std::fwrite(line.data(), 1, line.size(), f);
    }
    return std::fclose(f) == 0;
}

RECT ControlRectIn(HWND window, HWND control)
{
    RECT w, c;
    GetWindowRect(window, &w);
    GetWindowRect(control, &c);
    return RECT{c.left - w.left, c.top - w.top, c.right - w.left, c.bottom - w.top};
}

void RemoveWineAutoCom1() { DefineDosDeviceA(DDD_REMOVE_DEFINITION, "COM1", nullptr); }

} // namespace gui
