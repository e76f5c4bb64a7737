#include "tools/driver/pellfray_batch_driver.h"

#include "tools/driver/gui_driver.h"
#include "tools/driver/save_as_driver.h"

namespace batch {

HWND Open(HWND main, DWORD pid, DWORD timeout_ms)
{
    PostMessageA(main, WM_SYSCOMMAND, IDM_BATCH, 0);
    return gui::WaitForPopup(pid, "批量配置", timeout_ms);
}

void Fill(HWND window, const Fields &f)
{
    gui::SetText(window, IDC_BATCH_FIRST, f.first);
    gui::SetText(window, IDC_BATCH_LAST, f.last);
    gui::SetText(window, IDC_BATCH_COUNT, f.count);
    gui::SetText(window, IDC_BATCH_STEP, f.step);
    gui::SetText(window, IDC_BATCH_SEND, f.send);
    gui::SetText(window, IDC_BATCH_BATTERY, f.battery);
    gui::SetText(window, IDC_BATCH_PAUSE, f.pause);
    gui::Click(window, f.automatic ? IDC_BATCH_AUTO : IDC_BATCH_MANUAL);
}

bool Start(HWND window, DWORD pid, const std::string &path, DWORD timeout_ms)
{
    gui::ClickAsync(window, IDC_BATCH_START);
    HWND dialog = nullptr;
    gui::WaitUntil(
        [&] {
            dialog = save_as::WaitBox(pid, window, 0);
            return dialog != nullptr && GetDlgItem(dialog, 0x47C) != nullptr;
        },
        timeout_ms);
    if (dialog == nullptr || GetDlgItem(dialog, 0x47C) == nullptr)
        return false;
    save_as::SaveTo(dialog, path);
    return gui::WaitUntil([&] { return !IsWindow(dialog); }, timeout_ms);
}

std::string State(HWND window)
{
    return gui::Text(window, IDC_BATCH_STATE);
}

bool WaitState(HWND window, const std::string &text, DWORD timeout_ms)
{
    return gui::WaitUntil([&] { return State(window) == text; }, timeout_ms);
}

std::string Text(HWND window, int id)
{
    return gui::Text(window, id);
}

void PressEnter(HWND window)
{
    HWND target = GetDlgItem(window, IDC_BATCH_HOLD);
    PostMessageA(target, WM_KEYDOWN, VK_RETURN, 1);
    PostMessageA(target, WM_KEYUP, VK_RETURN, 0xC0000001);
}

} // namespace batch
