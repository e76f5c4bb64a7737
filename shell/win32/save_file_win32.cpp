// Save As, write beside the target, rename over it (see save_file_win32.h).
#include "shell/win32/save_file_win32.h"

#include <commdlg.h>

#include <cstdio>
#include <vector>

#include "shell/win32/app_shell.h"
#include "shell/win32/shell_resources.h"

namespace {

// Closes a file handle on every way out.
class FileHandle {
public:
    explicit FileHandle(HANDLE h) : h_(h) {}
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    ~FileHandle() { Close(); }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return h_; }
    // Closing can be where a delayed write error shows, so it is checked.
    bool Close()
    {
        if (!Valid())
            return true;
        const BOOL ok = CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
        return ok != FALSE;
    }

private:
    HANDLE h_;
};

// The error of the step that just failed; a step that fails without saying
// why must still not pass as saved.
DWORD LastError()
{
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_WRITE_FAULT;
}

std::wstring LoadWide(UINT id)
{
    // With a zero buffer length LoadStringW hands out a pointer to the
    // resource itself, which is not NUL-terminated.
    const wchar_t *text = nullptr;
    const int length = LoadStringW(AppInstance, id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr)
        return std::wstring();
    return std::wstring(text, static_cast<size_t>(length));
}

// A name beside the target that no other file has: CREATE_NEW refuses an
// existing one, so a user's own "x.csv.tmp" is never overwritten.
HANDLE CreateTemporaryBeside(const std::wstring &path, std::wstring &temp_path, DWORD &error)
{
    error = ERROR_FILE_EXISTS;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        wchar_t suffix[40];
        std::swprintf(suffix, sizeof suffix / sizeof suffix[0], L".~%lx-%u.tmp",
                      static_cast<unsigned long>(GetCurrentProcessId()), attempt);
        temp_path = path + suffix;
        HANDLE h = CreateFileW(temp_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            error = 0;
            return h;
        }
        error = LastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return INVALID_HANDLE_VALUE;
    }
    return INVALID_HANDLE_VALUE;
}

} // namespace

std::wstring DefaultSaveName(const wchar_t *prefix, const SYSTEMTIME &time, const wchar_t *extension)
{
    wchar_t stamp[32];
    std::swprintf(stamp, sizeof stamp / sizeof stamp[0], L"-%04u%02u%02u-%02u%02u%02u.", time.wYear, time.wMonth,
                  time.wDay, time.wHour, time.wMinute, time.wSecond);
    return std::wstring(prefix) + stamp + extension;
}

DWORD WriteFileReplacing(const std::wstring &path, const std::string &bytes)
{
    std::wstring temp_path;
    DWORD error = 0;
    FileHandle file(CreateTemporaryBeside(path, temp_path, error));
    if (!file.Valid())
        return error;

    size_t done = 0;
    while (done < bytes.size()) {
        const size_t left = bytes.size() - done;
        const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(file.Get(), bytes.data() + done, chunk, &written, nullptr)) {
            error = LastError();
            break;
        }
        if (written == 0) {
            error = ERROR_WRITE_FAULT;
            break;
        }
        done += written;
    }
    // A full disk may only show when the cached data goes out.
    if (error == 0 && !FlushFileBuffers(file.Get()))
        error = LastError();
    if (!file.Close() && error == 0)
        error = LastError();
    if (error == 0 &&
        !MoveFileExW(temp_path.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = LastError();
    if (error != 0) {
        DeleteFileW(temp_path.c_str());
        return error;
    }
    return 0;
}

void ShowSaveFailure(HWND owner, const std::wstring &path, DWORD error)
{
    ShowFileFailure(owner, IDS_SAVE_FAILED, path, error);
}

void ShowFileFailure(HWND owner, UINT heading_id, const std::wstring &path, DWORD error)
{
    wchar_t *reason = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        0, reinterpret_cast<LPWSTR>(&reason), 0, nullptr);
    std::wstring reason_text;
    if (length != 0 && reason != nullptr) {
        reason_text.assign(reason, length);
        while (!reason_text.empty() && (reason_text.back() == L'\n' || reason_text.back() == L'\r' ||
                                        reason_text.back() == L' '))
            reason_text.pop_back();
    }
    if (reason != nullptr)
        LocalFree(reason);
    wchar_t code[32];
    std::swprintf(code, sizeof code / sizeof code[0], L" (%lu)", static_cast<unsigned long>(error));

    const std::wstring text = LoadWide(heading_id) + L"\n" + path + L"\n\n" + reason_text + code;
    MessageBoxW(owner, text.c_str(), nullptr, MB_OK | MB_ICONERROR);
}

bool SaveThroughDialog(HWND owner, const SaveRequest &request, const std::function<std::string()> &produce)
{
    std::wstring path;
    if (!AskSavePath(owner, request, &path))
        return false; // cancelled (or the dialog could not be shown): nothing happens
    const DWORD error = WriteFileReplacing(path, produce());
    if (error != 0) {
        ShowSaveFailure(owner, path, error);
        return false;
    }
    return true;
}

bool AskSavePath(HWND owner, const SaveRequest &request, std::wstring *path)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::vector<wchar_t> file(32768, L'\0');
    const std::wstring name = DefaultSaveName(request.name_prefix, now, request.extension);
    name.copy(file.data(), file.size() - 1);

    // The resource separates the filter's parts with '|', since a string
    // table entry cannot hold the NULs the dialog wants; the list ends with
    // an empty string.
    std::wstring filter = LoadWide(request.filter_string);
    for (wchar_t &c : filter)
        if (c == L'|')
            c = L'\0';
    filter.push_back(L'\0');

    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrDefExt = request.extension;
    ofn.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&ofn))
        return false;
    path->assign(file.data());
    return true;
}

std::string WideToUtf8(const std::wstring &text)
{
    if (text.empty())
        return std::string();
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], length, nullptr,
                            nullptr);
    return out;
}

std::string CodePageToUtf8(UINT code_page, const char *text)
{
    const int length = MultiByteToWideChar(code_page, 0, text, -1, nullptr, 0);
    if (length <= 1)
        return std::string();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(code_page, 0, text, -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length - 1)); // without the NUL
    return WideToUtf8(wide);
}
