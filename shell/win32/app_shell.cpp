// Entry point, main window and About box of both programs (see app_shell.h).
#include "shell/win32/app_shell.h"

#include "shell/dpi_scale.h"
#include "shell/win32/shell_resources.h"

#include <string>

HINSTANCE AppInstance = nullptr;
int AppDpi = kBaseDpi;

int AppPx(int pixels)
{
    return ScaleToDpi(pixels, AppDpi);
}

const ShellValues *AppShellValues = nullptr;
HWND AppMainDialog = nullptr;

namespace {

constexpr int kTextBufferSize = 100;
char TitleText[kTextBufferSize];
char ClassNameText[kTextBufferSize];

// Style of the main window: caption, system menu, minimise and maximise
// boxes, but no sizing border (0x00CB0000).
constexpr DWORD kMainWindowStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

void RegisterMainClass(HINSTANCE instance, WORD icon_id)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(icon_id));
    wc.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(icon_id));
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = ClassNameText;
    RegisterClassExA(&wc); // a failure shows as a window that is not created
}

// Appends the program's items, below a separator, to the window's system
// menu. The texts are Chinese, so they go in as UTF-16 from the string table
// whatever the system's code page.
void AddSystemMenuItems(HWND window, const ShellValues *values)
{
    if (values->menu_item_count <= 0)
        return;
    HMENU menu = GetSystemMenu(window, FALSE);
    if (menu == nullptr)
        return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    for (int i = 0; i < values->menu_item_count; ++i) {
        const SystemMenuItem &item = values->menu_items[i];
        const wchar_t *text = nullptr;
        const int length = LoadStringW(AppInstance, item.text_id, reinterpret_cast<LPWSTR>(&text), 0);
        if (length <= 0 || text == nullptr)
            continue;
        const std::wstring label(text, static_cast<size_t>(length)); // the resource is not NUL-terminated
        AppendMenuW(menu, MF_STRING, item.command, label.c_str());
    }
}

const SystemMenuItem *FindSystemMenuItem(const ShellValues *values, UINT command)
{
    for (int i = 0; i < values->menu_item_count; ++i) {
        if (values->menu_items[i].command == command)
            return &values->menu_items[i];
    }
    return nullptr;
}

} // namespace

int ShellRun(HINSTANCE instance, int show_command, const ShellValues *values)
{
    AppShellValues = values;
    LoadStringA(instance, IDS_APP_TITLE, TitleText, kTextBufferSize);
    LoadStringA(instance, IDS_APP_CLASS, ClassNameText, kTextBufferSize);
    RegisterMainClass(instance, values->icon_id);
    // WM_CREATE, which runs inside CreateWindowExA, needs the instance.
    AppInstance = instance;

    HDC screen = GetDC(nullptr);
    AppDpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : kBaseDpi;
    if (screen != nullptr)
        ReleaseDC(nullptr, screen);
    HWND window = CreateWindowExA(0, ClassNameText, TitleText, kMainWindowStyle, CW_USEDEFAULT, 0,
                                  AppPx(values->width), AppPx(values->height), nullptr, nullptr, instance, nullptr);
    if (!window)
        return 0;
    ShowWindow(window, show_command);
    UpdateWindow(window);

    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDA_SHELL));
    MSG msg = {};
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        if (values->pre_translate && values->pre_translate(&msg))
            continue;
        // The message's own window, not the main window: Alt+? typed into a
        // dialog control sends command 104 to that control.
        if (TranslateAcceleratorA(msg.hwnd, accelerators, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (values->on_exit)
        values->on_exit();
    return static_cast<int>(msg.wParam);
}

void CentreWindow(HWND window)
{
    const int screen_width = GetSystemMetrics(SM_CXSCREEN);
    const int screen_height = GetSystemMetrics(SM_CYSCREEN);
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    // Signed division truncates toward zero, also for a screen smaller than
    // the window.
    MoveWindow(window, (screen_width - width) / 2, (screen_height - height) / 2, width, height, TRUE);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE: {
        const ShellValues *values = AppShellValues;
        if (values->on_create)
            values->on_create();
        if (values->centre)
            CentreWindow(window);
        // Marks the window as this program's; nothing reads it back.
        SetPropA(window, values->property_name, reinterpret_cast<HANDLE>(1));
        // The template is a visible child: it shows at once. The dialog
        // lives as long as the main window.
        AppMainDialog =
            CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(values->dialog_id), window, values->dialog_proc, 0);
        AddSystemMenuItems(window, values);
        return 0;
    }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(window, &ps);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDM_ABOUT:
            DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_ABOUTBOX), window, AboutBoxProc, 0);
            return 0;
        case IDM_EXIT:
            DestroyWindow(window);
            return 0;
        default:
            return DefWindowProcA(window, message, wparam, lparam);
        }
    case WM_SYSCOMMAND: {
        const SystemMenuItem *item = FindSystemMenuItem(AppShellValues, static_cast<UINT>(wparam & 0xFFF0));
        if (item && item->run) {
            item->run(window);
            return 0;
        }
        return DefWindowProcA(window, message, wparam, lparam);
    }
    case WM_INITMENUPOPUP:
        // HIWORD(lparam) set: the window menu, about to open.
        if (HIWORD(lparam) && AppShellValues->on_system_menu)
            AppShellValues->on_system_menu(window, reinterpret_cast<HMENU>(wparam));
        return DefWindowProcA(window, message, wparam, lparam);
    case WM_DEVICECHANGE:
        if (AppMainDialog != nullptr && IsWindow(AppMainDialog))
            SendMessageA(AppMainDialog, WM_DEVICECHANGE, wparam, lparam);
        return TRUE; // nothing here objects to a change
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

INT_PTR CALLBACK AboutBoxProc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE; // default focus: the OK button
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wparam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
