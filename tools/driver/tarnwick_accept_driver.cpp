#include "tools/driver/tarnwick_accept_driver.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>

#include "tools/driver/gui_driver.h"

namespace accept {

namespace {

std::string Utf8(const wchar_t *text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<size_t>(n) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

std::wstring Wide(const std::string &utf8)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &out[0], n);
    out.resize(out.size() - 1);
    return out;
}

} // namespace

HWND Open(HWND main, DWORD pid, DWORD timeout_ms)
{
    PostMessageA(main, WM_SYSCOMMAND, kCommand, 0);
    return gui::WaitForPopup(pid, "批量验收", timeout_ms);
}

std::string Text(HWND window, int id)
{
    wchar_t buf[1024] = {};
    SendMessageW(GetDlgItem(window, id), WM_GETTEXT, sizeof buf / sizeof buf[0], reinterpret_cast<LPARAM>(buf));
    return Utf8(buf);
}

void SetText(HWND window, int id, const std::string &text)
{
    const std::wstring w = Wide(text);
    SendMessageW(GetDlgItem(window, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(w.c_str()));
}

void UseRange(HWND window, uint32_t first, uint32_t last)
{
    SetText(window, kFirst, std::to_string(first));
    SetText(window, kLast, std::to_string(last));
    gui::ClickAsync(window, kRange);
}

std::vector<std::string> Counts(HWND window)
{
    std::vector<std::string> out;
    for (int id = kFirstCount; id < kFirstCount + 8; ++id)
        out.push_back(Text(window, id));
    return out;
}

std::string CountsLine(HWND window)
{
    const char *names[] = {u8"应到", u8"已到", u8"合格", u8"缺失", u8"欠压", u8"信号弱", u8"掉线", u8"多余"};
    const std::vector<std::string> counts = Counts(window);
    std::string out;
    for (size_t i = 0; i < counts.size(); ++i)
        out += std::string(i ? " " : "") + names[i] + " " + counts[i];
    return out;
}

std::vector<std::vector<std::string>> ListRows(HWND window, DWORD pid)
{
    std::vector<std::vector<std::string>> rows;
    HWND list = GetDlgItem(window, kList);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process == nullptr)
        return rows;
    // The item and its text buffer live in the program's memory: list
    // view messages carry pointers, which no process boundary translates.
    constexpr size_t kChars = 512;
    void *remote = VirtualAllocEx(process, nullptr, sizeof(LVITEMW) + kChars * sizeof(wchar_t), MEM_COMMIT,
                                  PAGE_READWRITE);
    if (remote != nullptr) {
        auto *remote_text = reinterpret_cast<wchar_t *>(static_cast<char *>(remote) + sizeof(LVITEMW));
        const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            std::vector<std::string> row;
            for (int c = 0; c < kListColumns; ++c) {
                LVITEMW item = {};
                item.iSubItem = c;
                item.pszText = remote_text;
                item.cchTextMax = kChars;
                WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
                SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(remote));
                wchar_t text[kChars] = {};
                ReadProcessMemory(process, remote_text, text, sizeof text - sizeof(wchar_t), nullptr);
                row.push_back(Utf8(text));
            }
            rows.push_back(row);
        }
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return rows;
}

RECT RowRect(HWND window, DWORD pid, int item)
{
    HWND list = GetDlgItem(window, kList);
    RECT rect = {LVIR_BOUNDS, 0, 0, 0};
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process == nullptr)
        return RECT{};
    void *remote = VirtualAllocEx(process, nullptr, sizeof rect, MEM_COMMIT, PAGE_READWRITE);
    if (remote != nullptr) {
        WriteProcessMemory(process, remote, &rect, sizeof rect, nullptr);
        SendMessageW(list, LVM_GETITEMRECT, item, reinterpret_cast<LPARAM>(remote));
        ReadProcessMemory(process, remote, &rect, sizeof rect, nullptr);
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return rect;
}

void DoubleClickRow(HWND window, DWORD pid, int item)
{
    const RECT rect = RowRect(window, pid, item);
    const LPARAM at = MAKELPARAM(rect.left + 20, (rect.top + rect.bottom) / 2);
    HWND list = GetDlgItem(window, kList);
    PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(list, WM_LBUTTONUP, 0, at);
    PostMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    PostMessageA(list, WM_LBUTTONUP, 0, at);
}

namespace {

// The number after marker in the timing text
// "本次判断 0.12 ms，刷新 1.23 ms".
double TimingAfter(HWND window, const std::string &marker)
{
    const std::string text = Text(window, kTiming);
    const size_t at = text.find(marker);
    if (at == std::string::npos)
        return -1;
    return std::atof(text.c_str() + at + marker.size());
}

} // namespace

double LastJudgeMs(HWND window)
{
    return TimingAfter(window, u8"判断 ");
}

double LastRefreshMs(HWND window)
{
    return TimingAfter(window, u8"刷新 ");
}

} // namespace accept
