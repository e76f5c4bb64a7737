#include "tools/driver/save_as_driver.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "shell/win32/shell_resources.h"
#include "tools/driver/gui_driver.h"

namespace save_as {

namespace {

using gui::WaitUntil;

struct Search {
    DWORD pid;
    HWND not_this;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM param)
{
    auto *s = reinterpret_cast<Search *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[32] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (pid == s->pid && window != s->not_this && IsWindowVisible(window) && std::string(cls) == "#32770") {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND TopDialog(DWORD pid, HWND not_this)
{
    Search s{pid, not_this, nullptr};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

std::wstring Wide(const std::string &utf8)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring w(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &w[0], n);
    w.resize(w.size() - 1);
    return w;
}

std::string Utf8(const std::wstring &wide)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &s[0], n, nullptr, nullptr);
    s.resize(s.size() - 1);
    return s;
}

std::string TextOf(HWND window)
{
    wchar_t buf[2048] = {};
    SendMessageW(window, WM_GETTEXT, sizeof buf / sizeof buf[0], reinterpret_cast<LPARAM>(buf));
    return Utf8(buf);
}

BOOL CALLBACK CollectStatic(HWND window, LPARAM param)
{
    char cls[32] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (std::string(cls) == "Static") {
        auto *out = reinterpret_cast<std::string *>(param);
        *out += TextOf(window);
        *out += "\n";
    }
    return TRUE;
}

} // namespace

HWND OpenFromSystemMenu(HWND main, DWORD pid, DWORD timeout_ms, UINT command)
{
    PostMessageW(main, WM_SYSCOMMAND, command, 0);
    HWND dialog = nullptr;
    WaitUntil([&] { return (dialog = TopDialog(pid, nullptr)) != nullptr && FileNameField(dialog) != nullptr; },
              timeout_ms);
    return dialog != nullptr && FileNameField(dialog) != nullptr ? dialog : nullptr;
}

HWND FileNameField(HWND dialog)
{
    // The explorer-style dialog keeps the name in an editable combo box
    // (cmb13), whose edit may sit one level further down (ComboBoxEx32 ->
    // ComboBox -> Edit); the older template in an edit (edt1).
    HWND combo = GetDlgItem(dialog, 0x47C);
    if (combo == nullptr)
        return GetDlgItem(dialog, 0x480);
    HWND edit = FindWindowExA(combo, nullptr, "Edit", nullptr);
    if (edit == nullptr) {
        HWND inner = FindWindowExA(combo, nullptr, "ComboBox", nullptr);
        if (inner != nullptr)
            edit = FindWindowExA(inner, nullptr, "Edit", nullptr);
    }
    return edit != nullptr ? edit : combo;
}

std::string FileName(HWND dialog)
{
    return TextOf(FileNameField(dialog));
}

void SaveTo(HWND dialog, const std::string &path)
{
    const std::wstring w = Wide(path);
    SendMessageW(FileNameField(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(w.c_str()));
    // Posted: pressing Save may raise a box, inside which a sent message
    // would wait.
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
}

void Cancel(HWND dialog)
{
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
}

bool WaitDialogsGone(DWORD pid, DWORD timeout_ms)
{
    return WaitUntil([&] { return TopDialog(pid, nullptr) == nullptr; }, timeout_ms);
}

HWND WaitBox(DWORD pid, HWND not_this, DWORD timeout_ms)
{
    HWND box = nullptr;
    WaitUntil([&] { return (box = TopDialog(pid, not_this)) != nullptr; }, timeout_ms);
    return box;
}

std::string BoxText(HWND box)
{
    std::string text;
    EnumChildWindows(box, CollectStatic, reinterpret_cast<LPARAM>(&text));
    return text;
}

void Press(HWND box, int id)
{
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

bool ReadFileBytes(const std::string &path, std::string *bytes)
{
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bytes->clear();
    char buf[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(h, buf, sizeof buf, &got, nullptr) != FALSE) && got > 0)
        bytes->append(buf, got);
    CloseHandle(h);
    return ok;
}

std::string WaitFileBytes(const std::string &path, DWORD timeout_ms)
{
    std::string bytes;
    return WaitUntil([&] { return ReadFileBytes(path, &bytes); }, timeout_ms) ? bytes : "(no file)";
}

std::string OpenDialogs(DWORD pid)
{
    std::string out;
    HWND previous = nullptr;
    for (int i = 0; i < 8; ++i) {
        HWND box = TopDialog(pid, previous);
        if (box == nullptr || box == previous)
            break;
        out += "[" + TextOf(box) + "] " + BoxText(box);
        previous = box;
    }
    return out;
}

std::string ListFolder(const std::string &folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(Wide(folder + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = Utf8(data.cFileName);
            if (name != "." && name != "..")
                names.push_back(name);
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string &n : names)
        out += (out.empty() ? "" : " ") + n;
    return out;
}

std::string MakeEmptyFolder(const char *prefix)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    char name[MAX_PATH];
    std::snprintf(name, sizeof name, "%s%s-%lu-%lu", temp, prefix, static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<unsigned long>(GetTickCount()));
    CreateDirectoryA(name, nullptr);
    return name;
}

std::string AnsiToUtf8(const std::string &text)
{
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring w(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &w[0], n);
    w.resize(w.size() - 1);
    return Utf8(w);
}

} // namespace save_as
