// Both programs started as a user would start them, their windows examined
// from outside: the main window the shell makes (class, title, size, style,
// placement, property), the About box and its ways in and out, the end of
// the program with its window, and Tarnwick's dialog as it first appears,
// down to the colours on the screen.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tagbench/win32/tests/programs.h"
#include "tools/driver/com_test_support.h" // ComPortOpens, RemoveForeignComPorts
#include "tools/driver/gui_driver.h"

namespace {

constexpr DWORD kStartTimeoutMs = 15000;
constexpr DWORD kTimeoutMs = 5000;

// The session has no COM port at all: the programs list ports at start-up,
// and no test may touch a port it did not make. run-without-host-ports.sh
// removes the links to host devices; Wine still defines COM1 for the host's
// ttyS0 inside the session, which only a program can remove. Stop at once if
// a port is still there.
class NoComPorts : public ::testing::Environment {
public:
    void SetUp() override
    {
        RemoveForeignComPorts();
        for (uint32_t n = 1; n <= 256; ++n)
            ASSERT_FALSE(ComPortOpens(n)) << "COM" << n << " exists in this session";
    }
};
const auto *const kNoComPorts = ::testing::AddGlobalTestEnvironment(new NoComPorts);

// Combo box entries as ANSI text. Asked across processes in the ANSI form,
// Wine hands CB_GETLBTEXT back in UTF-16; the wide form comes back intact.
std::vector<std::string> ComboTexts(HWND dialog, int id)
{
    HWND combo = GetDlgItem(dialog, id);
    std::vector<std::string> texts;
    const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t wide[64] = {};
        if (SendMessageW(combo, CB_GETLBTEXTLEN, i, 0) >= 64)
            return {"(entry too long)"};
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide));
        char text[128] = {};
        WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
        texts.push_back(text);
    }
    return texts;
}

struct ProgramUnderTest {
    const char *exe;
    const char *class_name;
    const char *title;
    const char *property;
    int width;
    int height;
    const char *about_title;
    const char *about_text;
};

const ProgramUnderTest kTarnwick = {kTarnwickExe, "QUORVEL", "TarnwickV1.8", "Quorvel__20190109_NQ", 958, 639,
                                    "关于 Quorvel", "Quorvel，1.0 版"};
const ProgramUnderTest kPellfray = {
    kPellfrayExe,          "VAREK_OLSA", "三合一模块Varek测试软件V1.1", "olsaTest__20200414_NQ", 1021, 720,
    "关于 varek_olsa", "varek_olsa，1.0 版"};

// One started program with its main window and main dialog found.
struct Session {
    gui::Program program;
    HWND main = nullptr;
    HWND dialog = nullptr;

    bool Start(const ProgramUnderTest &p)
    {
        if (!program.Start(p.exe))
            return false;
        main = gui::WaitForWindow(p.class_name, program.pid(), kStartTimeoutMs);
        if (main)
            dialog = gui::WaitForChildDialog(main, kTimeoutMs);
        return main && dialog;
    }
};

std::vector<std::string> ChildTexts(HWND parent)
{
    std::vector<std::string> texts;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        texts.push_back(gui::Text(child));
    return texts;
}

bool WaitGone(HWND window)
{
    return gui::WaitUntil([&] { return !IsWindow(window); }, kTimeoutMs);
}

void ExpectMainWindow(const ProgramUnderTest &p, Session &s)
{
    EXPECT_EQ(p.title, gui::Text(s.main));
    RECT r;
    ASSERT_TRUE(GetWindowRect(s.main, &r));
    EXPECT_EQ(p.width, r.right - r.left);
    EXPECT_EQ(p.height, r.bottom - r.top);
    // Caption, system menu, minimise and maximise boxes; no sizing border.
    const LONG style = GetWindowLongA(s.main, GWL_STYLE);
    EXPECT_EQ(LONG(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX),
              style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME | WS_POPUP | WS_CHILD));
    EXPECT_EQ(0, GetWindowLongA(s.main, GWL_EXSTYLE) & ~(WS_EX_WINDOWEDGE));
    EXPECT_EQ(reinterpret_cast<HANDLE>(1), GetPropA(s.main, p.property));
    // The main dialog sits in the client area as a visible child.
    EXPECT_EQ(s.main, GetParent(s.dialog));
    EXPECT_TRUE(IsWindowVisible(s.dialog));
    EXPECT_TRUE(GetWindowLongA(s.dialog, GWL_STYLE) & WS_CHILD);
}

// Opens the About box with command 104, checks it, closes it with close().
void ExpectAboutBox(const ProgramUnderTest &p, Session &s, void (*close)(HWND box), const char *how)
{
    SCOPED_TRACE(how);
    PostMessageA(s.main, WM_COMMAND, 104, 0);
    HWND box = gui::WaitForPopup(s.program.pid(), p.about_title, kTimeoutMs);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(s.main, GetWindow(box, GW_OWNER));
    const auto texts = ChildTexts(box);
    EXPECT_NE(texts.end(), std::find(texts.begin(), texts.end(), p.about_text));
    EXPECT_EQ("确定", gui::Text(box, IDOK));
    // Modal: the main window is disabled while the box is up.
    EXPECT_FALSE(IsWindowEnabled(s.main));
    close(box);
    EXPECT_TRUE(WaitGone(box));
    EXPECT_TRUE(gui::WaitUntil([&] { return IsWindowEnabled(s.main) != FALSE; }, kTimeoutMs));
}

void CloseWithOk(HWND box) { gui::ClickAsync(box, IDOK); }
// Keys reach the box through its own dialog-manager loop (the focus is on OK).
void CloseWithEscape(HWND box) { PostMessageA(GetDlgItem(box, IDOK), WM_KEYDOWN, VK_ESCAPE, 0x00010001); }
void CloseWithEnter(HWND box) { PostMessageA(GetDlgItem(box, IDOK), WM_KEYDOWN, VK_RETURN, 0x001C0001); }
void CloseWithCloseBox(HWND box) { PostMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0); }

void ExpectAboutBoxWays(const ProgramUnderTest &p)
{
    Session s;
    ASSERT_TRUE(s.Start(p));
    ExpectAboutBox(p, s, CloseWithOk, "OK button");
    ExpectAboutBox(p, s, CloseWithEscape, "Esc");
    ExpectAboutBox(p, s, CloseWithEnter, "Enter");
    ExpectAboutBox(p, s, CloseWithCloseBox, "close box");
}

// Real key strokes: Alt held while typing the character, with the keyboard
// focus on the main window itself (the accelerator goes to the window the
// key was addressed to).
void TypeAltCharacter(HWND main, char c)
{
    const DWORD thread = GetWindowThreadProcessId(main, nullptr);
    AttachThreadInput(GetCurrentThreadId(), thread, TRUE);
    SetForegroundWindow(main);
    SetFocus(main);
    AttachThreadInput(GetCurrentThreadId(), thread, FALSE);

    const SHORT scan = VkKeyScanA(c);
    const WORD vk = LOBYTE(scan);
    const bool shift = (HIBYTE(scan) & 1) != 0;
    std::vector<INPUT> keys;
    auto key = [&](WORD k, bool up) {
        INPUT in = {};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = k;
        in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        keys.push_back(in);
    };
    key(VK_MENU, false);
    if (shift)
        key(VK_SHIFT, false);
    key(vk, false);
    key(vk, true);
    if (shift)
        key(VK_SHIFT, true);
    key(VK_MENU, true);
    SendInput(static_cast<UINT>(keys.size()), keys.data(), sizeof(INPUT));
}

void ExpectAltAccelerators(const ProgramUnderTest &p)
{
    Session s;
    ASSERT_TRUE(s.Start(p));
    for (char c : {'?', '/'}) {
        SCOPED_TRACE(std::string("Alt+") + c);
        TypeAltCharacter(s.main, c);
        HWND box = gui::WaitForPopup(s.program.pid(), p.about_title, kTimeoutMs);
        ASSERT_NE(nullptr, box);
        CloseWithEscape(box);
        EXPECT_TRUE(WaitGone(box));
    }
}

void ExpectEndsWithWindow(const ProgramUnderTest &p)
{
    {
        SCOPED_TRACE("close box");
        Session s;
        ASSERT_TRUE(s.Start(p));
        PostMessageA(s.main, WM_CLOSE, 0, 0);
        DWORD code = 99;
        ASSERT_TRUE(s.program.WaitExit(kTimeoutMs, &code));
        EXPECT_EQ(0u, code);
    }
    {
        SCOPED_TRACE("command 105");
        Session s;
        ASSERT_TRUE(s.Start(p));
        PostMessageA(s.main, WM_COMMAND, 105, 0);
        DWORD code = 99;
        ASSERT_TRUE(s.program.WaitExit(kTimeoutMs, &code));
        EXPECT_EQ(0u, code);
    }
}

TEST(TarnwickWindow, MainWindowAsCreated)
{
    Session s;
    ASSERT_TRUE(s.Start(kTarnwick));
    ExpectMainWindow(kTarnwick, s);
}

TEST(TarnwickWindow, AboutBoxOpensAndCloses) { ExpectAboutBoxWays(kTarnwick); }
TEST(TarnwickWindow, AltQuestionAndAltSlashOpenAbout) { ExpectAltAccelerators(kTarnwick); }
TEST(TarnwickWindow, ProgramEndsWithItsWindow) { ExpectEndsWithWindow(kTarnwick); }

TEST(PellfrayWindow, MainWindowAsCreatedAndCentred)
{
    Session s;
    ASSERT_TRUE(s.Start(kPellfray));
    ExpectMainWindow(kPellfray, s);
    RECT r;
    GetWindowRect(s.main, &r);
    EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - 1021) / 2, r.left);
    EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - 720) / 2, r.top);
}

TEST(PellfrayWindow, AboutBoxOpensAndCloses) { ExpectAboutBoxWays(kPellfray); }
TEST(PellfrayWindow, AltQuestionAndAltSlashOpenAbout) { ExpectAltAccelerators(kPellfray); }
TEST(PellfrayWindow, ProgramEndsWithItsWindow) { ExpectEndsWithWindow(kPellfray); }

// --- Tarnwick's dialog as it first appears -------------------------------------

TEST(TarnwickDialog, InitialState)
{
    Session s;
    ASSERT_TRUE(s.Start(kTarnwick));
    HWND d = s.dialog;

    EXPECT_EQ(std::vector<std::string>{}, ComboTexts(d, 1002)) << "no COM port in this session";
    EXPECT_EQ((std::vector<std::string>{"9600", "14400", "19200", "38400", "56000", "57600", "115200"}),
              ComboTexts(d, 1003));
    EXPECT_EQ(6, gui::ComboSelection(d, 1003));
    EXPECT_EQ("1", gui::Text(d, 1180));
    EXPECT_EQ("", gui::Text(d, 1178));
    EXPECT_TRUE(gui::Enabled(d, 1178));
    EXPECT_FALSE(gui::Enabled(d, 1179));
    EXPECT_EQ("启动", gui::Text(d, 1179));
    EXPECT_TRUE(gui::Checked(d, 1005));
    EXPECT_FALSE(gui::Checked(d, 1006));
    EXPECT_TRUE(gui::Checked(d, 1007));
    EXPECT_EQ("未连接", gui::Text(d, 1041));
    EXPECT_EQ("0", gui::Text(d, 1043));
    EXPECT_EQ("0", gui::Text(d, 1044));
    EXPECT_EQ("开始", gui::Text(d, 1016));
    EXPECT_TRUE(gui::Enabled(d, 1002));
    EXPECT_TRUE(gui::Enabled(d, 1003));

    // Every grid cell has become owner-drawn; the header keeps its captions.
    std::vector<int> cells = {1046, 1083, 1084, 1085, 1086, 1087, 1088};
    for (int id = 1107; id <= 1177; ++id)
        cells.push_back(id);
    for (int id : cells)
        EXPECT_EQ(LONG(SS_OWNERDRAW), GetWindowLongA(gui::Control(d, id), GWL_STYLE) & SS_TYPEMASK) << id;
    EXPECT_EQ("附加数据", gui::Text(d, 1085));
    EXPECT_EQ("", gui::Text(d, 1177));

    // With no port listed the port button changes nothing.
    gui::Click(d, 1016);
    EXPECT_EQ("开始", gui::Text(d, 1016));
    EXPECT_TRUE(gui::Enabled(d, 1002));
    EXPECT_TRUE(gui::Enabled(d, 1003));
    EXPECT_FALSE(gui::Enabled(d, 1179));
    // Paging an empty table goes nowhere.
    gui::Click(d, 1004);
    gui::Click(d, 1042);
    EXPECT_EQ("", gui::Text(d, 1088));
}

TEST(TarnwickDialog, GridColoursOnScreen)
{
    Session s;
    ASSERT_TRUE(s.Start(kTarnwick));
    HWND d = s.dialog;
    gui::Capture shot;
    ASSERT_TRUE(gui::WaitUntil(
        [&] {
            // The first capture may come before the first paint.
            if (!gui::CaptureWindow(s.main, &shot))
                return false;
            const RECT cell = gui::ControlRectIn(s.main, gui::Control(d, 1088));
            return shot.At(cell.left + 2, cell.top + 2) == 0xFFFFFF;
        },
        kTimeoutMs));
    gui::SaveBmp(shot, "tarnwick-empty.bmp");

    const RECT header = gui::ControlRectIn(s.main, gui::Control(d, 1046));
    const RECT header2 = gui::ControlRectIn(s.main, gui::Control(d, 1083));
    const RECT row0 = gui::ControlRectIn(s.main, gui::Control(d, 1088));
    const RECT row5 = gui::ControlRectIn(s.main, gui::Control(d, 1106 + 6 * 5));
    const RECT last = gui::ControlRectIn(s.main, gui::Control(d, 1177));
    const RECT status = gui::ControlRectIn(s.main, gui::Control(d, 1044));
    const uint32_t header_grey = 0xC8C8C8, white = 0xFFFFFF, line = 0x3C3C3C, background = 0xF0F0F0;

    EXPECT_EQ(header_grey, shot.At(header.left + 2, header.top + 2));
    EXPECT_EQ(header_grey, shot.At(header2.right - 3, header2.bottom - 3));
    EXPECT_EQ(white, shot.At(row0.left + 2, row0.top + 2));
    EXPECT_EQ(white, shot.At(last.right - 3, last.bottom - 3));
    // The background shows through the gaps as dark lines: below the header,
    // between two columns, and around the last cell.
    EXPECT_EQ(line, shot.At(header.left + 5, header.bottom));
    EXPECT_EQ(line, shot.At(header.right, header.top + 5));
    EXPECT_EQ(line, shot.At(row0.left + 5, row0.top - 1));
    EXPECT_EQ(line, shot.At(last.right, last.top + 5));
    // Outside the grid the stretched bitmap is light grey: between the status
    // labels and the grid, level with row 5.
    EXPECT_EQ(background, shot.At((status.right + row5.left) / 2 - 10, (row5.top + row5.bottom) / 2));
}

} // namespace
