#include "modulebench/win32/save_log_win32.h"

#include <string>
#include <vector>

#include "modulebench/traffic_log_file.h"
#include "modulebench/win32/pellfray_resources.h"
#include "shell/win32/save_file_win32.h"
#include "shell/win32/shell_resources.h"

namespace {

std::wstring WindowTextW(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    if (length <= 0)
        return std::wstring();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(window, &text[0], length + 1);
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

// Read as UTF-16 and written as UTF-8: the list converts the entries it was
// given in the system code page, so the file holds the characters the user
// sees whatever that page is.
std::string LogFileFromDialog(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_LOG_LIST);
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    std::vector<std::string> entries;
    entries.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    std::wstring entry;
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length == LB_ERR)
            break;
        entry.assign(static_cast<size_t>(length) + 1, L'\0');
        const LRESULT got = SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&entry[0]));
        entry.resize(got > 0 ? static_cast<size_t>(got) : 0);
        entries.push_back(WideToUtf8(entry));
    }
    return TrafficLogFileText(entries, WideToUtf8(WindowTextW(GetDlgItem(dialog, IDC_TX_COUNT))),
                              WideToUtf8(WindowTextW(GetDlgItem(dialog, IDC_RX_COUNT))));
}

} // namespace

void SaveTrafficLogCommand(HWND main_window)
{
    // The main dialog is the main window's one child dialog.
    HWND dialog = FindWindowExW(main_window, nullptr, L"#32770", nullptr);
    if (dialog == nullptr)
        return;
    const SaveRequest request = {L"pellfray", L"log", IDS_SAVE_FILTER};
    SaveThroughDialog(main_window, request, [dialog] { return LogFileFromDialog(dialog); });
}
