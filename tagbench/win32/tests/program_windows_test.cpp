// Both programs started as a user would start them: the main window with its
// title and dialog, the About box in and out, the end of the program with its
// window.
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

struct ProgramUnderTest {
    const char *exe;
    const char *class_name;
    const char *title;
    const char *about_title;
    const char *about_text;
};

const ProgramUnderTest kTarnwick = {kTarnwickExe, "QUORVEL", "TarnwickV1.8", "关于 Quorvel", "Quorvel，1.0 版"};
const ProgramUnderTest kPellfray = {kPellfrayExe, "VAREK_OLSA", "三合一模块Varek测试软件V1.1", "关于 varek_olsa",
                                    "varek_olsa，1.0 版"};

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
    EXPECT_EQ(s.main, GetParent(s.dialog));
    EXPECT_TRUE(IsWindowVisible(s.dialog));
}

// Opens the About box with command 104, checks it, closes it with its OK
// button.
void ExpectAboutBoxWays(const ProgramUnderTest &p)
{
    Session s;
    ASSERT_TRUE(s.Start(p));
    PostMessageA(s.main, WM_COMMAND, 104, 0);
    HWND box = gui::WaitForPopup(s.program.pid(), p.about_title, kTimeoutMs);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(s.main, GetWindow(box, GW_OWNER));
    const auto texts = ChildTexts(box);
    EXPECT_NE(texts.end(), std::find(texts.begin(), texts.end(), p.about_text));
    // Modal: the main window is disabled while the box is up.
    EXPECT_FALSE(IsWindowEnabled(s.main));
    gui::ClickAsync(box, IDOK);
    EXPECT_TRUE(WaitGone(box));
    EXPECT_TRUE(gui::WaitUntil([&] { return IsWindowEnabled(s.main) != FALSE; }, kTimeoutMs));
}

// The menu's exit command ends the program with its window (the close box
// is how every other test ends one).
void ExpectEndsWithWindow(const ProgramUnderTest &p)
{
    Session s;
    ASSERT_TRUE(s.Start(p));
    PostMessageA(s.main, WM_COMMAND, 105, 0);
    DWORD code = 99;
    ASSERT_TRUE(s.program.WaitExit(kTimeoutMs, &code));
    EXPECT_EQ(0u, code);
}

TEST(TarnwickWindow, MainWindowAsCreated)
{
    Session s;
    ASSERT_TRUE(s.Start(kTarnwick));
    ExpectMainWindow(kTarnwick, s);
}

TEST(TarnwickWindow, AboutBoxOpensAndCloses) { ExpectAboutBoxWays(kTarnwick); }
TEST(TarnwickWindow, ProgramEndsWithItsWindow) { ExpectEndsWithWindow(kTarnwick); }

TEST(PellfrayWindow, MainWindowAsCreated)
{
    Session s;
    ASSERT_TRUE(s.Start(kPellfray));
    ExpectMainWindow(kPellfray, s);
}

TEST(PellfrayWindow, AboutBoxOpensAndCloses) { ExpectAboutBoxWays(kPellfray); }
TEST(PellfrayWindow, ProgramEndsWithItsWindow) { ExpectEndsWithWindow(kPellfray); }

} // namespace
