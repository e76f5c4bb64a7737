// What Tarnwick's end-to-end tests share: the started program with its main
// dialog, the dialog's controls read the way the user sees them, and the
// reader's side of the cable (tag reports out, reminder frames in).
//
// The tests run under with-com-pairs.sh: Tarnwick opens one end of a
// null-modem pair from its port list, the test holds the other end and plays
// the reader. Everything waits with a deadline; nothing blocks for ever.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/driver/com_test_support.h"
#include "tools/driver/gui_driver.h"

namespace tarnwick {

// Control identifiers of dialog 131, as the user knows them by caption.
constexpr int kPortList = 1002;      // 串口
constexpr int kSpeedList = 1003;     // 波特率
constexpr int kNextPage = 1004;      // 下一页
constexpr int kPrevPage = 1042;      // 上一页
constexpr int kPortButton = 1016;    // 开始 / 关闭串口 / 打开串口
constexpr int kReaderLabel = 1041;   // 已连接 / 未连接
constexpr int kTotalLabel = 1043;    // 标签总数
constexpr int kOfflineLabel = 1044;  // 掉线个数
constexpr int kStartIdEdit = 1178;   // 起始ID号
constexpr int kReminderButton = 1179; // 启动 / 停止
constexpr int kQuantityEdit = 1180;  // 数量
constexpr int kGreenCheck = 1005;    // 绿灯
constexpr int kRedCheck = 1006;      // 红灯
constexpr int kBuzzerCheck = 1007;   // 蜂鸣器

// The find box (查找标签…) and a tag's follow window.
constexpr UINT kFindCommand = 0x0170;   // system menu item 查找标签…
constexpr int kFindIdEdit = 1701;       // 标签号
constexpr int kFindFollowButton = 1702; // 跟踪
constexpr const char *kFollowClass = "TarnwickTagFollow";
constexpr int kFollowState = 1801;        // 状态
constexpr int kFollowFirstSeen = 1802;    // 首次出现
constexpr int kFollowLastSeen = 1803;     // 最后出现
constexpr int kFollowLastSecond = 1804;   // 最近一秒报告
constexpr int kFollowTotal = 1805;        // 报告总数
constexpr int kFollowUnderVoltage = 1806; // 欠压
constexpr int kFollowExtra = 1807;        // 附加数据
constexpr int kFollowCurrent = 1808;      // 当前 dB / cm
constexpr int kFollowNewest = 1809;       // 最新点
constexpr int kFollowPause = 1810;        // 暂停 / 继续
constexpr int kFollowSave = 1811;         // 保存历史…

constexpr int kRows = 12;
constexpr int kColumns = 6;

constexpr DWORD kStartTimeoutMs = 15000;
constexpr DWORD kTimeoutMs = 5000;

// Cell (row, column) of the tag grid: controls 1106 + 6r + c, except that
// the first cell of row 0 is 1088.
int CellId(int row, int column);

// Forgets what Tarnwick remembers for the user (port, speed, reminder), as
// for a user who never ran it.
void ForgetSettings();

// Tarnwick.exe started from the test, with its main window and dialog. The
// program is ended (killed if need be) when the object goes.
struct Tarnwick {
    gui::Program program;
    HWND main = nullptr;
    HWND dialog = nullptr;
    // Start forgets the user's settings first unless this is set (a run
    // that checks what the program remembers).
    bool keep_settings = false;

    bool Start();
    // Closes the main window and waits for the program to end; false when it
    // did not end or ended with a code other than 0.
    bool Quit();

    std::vector<std::string> Row(int row) const;
    std::string Cell(int row, int column) const;
    // Texts of the three status labels: reader, total, offline.
    std::vector<std::string> Labels() const;

    // Chooses "COMn" in the port list (false when it is not listed) and the
    // speed entry whose text is speed.
    bool ChoosePort(uint32_t n);
    bool ChooseSpeed(const char *speed);
    // Clicks the port button.
    void PressPortButton() const;

    // Replaces an edit's text as a user would: select all, type.
    void TypeInto(int id, const std::string &text) const;
    // Sets a check box by clicking it when it is not as wanted.
    void SetCheck(int id, bool on) const;
};

// The rows a table of tags shows when it is empty.
std::vector<std::string> EmptyRow();

// --- the reader's frames ----------------------------------------------------

enum class Header { kFF, k55AA };

// A tag report as a reader sends it: header, ID (big-endian), status with
// n = extra.size() in bits 5 to 7 (bit 0 under-voltage), the extra bytes,
// the signal byte and the CRC over the range of the header kind.
std::vector<uint8_t> TagReport(Header header, uint32_t id, bool under_voltage, int8_t signal,
                               const std::vector<uint8_t> &extra = {});

// The two example reports of tag 1000, byte for byte.
extern const std::vector<uint8_t> kExampleReportFF;
extern const std::vector<uint8_t> kExampleReport55AA;

// A reminder frame as Tarnwick should send it, built here independently of
// the program: 55 AA 02 5n ... or FF FF FF FF 01 5n ..., CRC high byte first.
std::vector<uint8_t> ReminderFrame(Header header, uint32_t first_id, uint32_t n, uint8_t mode);

// One frame as it arrived at the reader's end, with its arrival time.
struct Received {
    std::vector<uint8_t> bytes;
    DWORD at_ms = 0;
};

// Cuts the bytes arriving at the reader's end into reminder frames by their
// own headers and length bytes. Bytes that fit no frame are kept as a frame
// of their own so that a test sees them.
class ReminderListener {
public:
    explicit ReminderListener(TestComPort *port) : port_(port) {}
    // The next frame, or an empty one when none began within timeout_ms.
    Received Next(DWORD timeout_ms);
    // Every frame that arrives within ms.
    std::vector<Received> Collect(DWORD ms);
    // Drops anything under way and whatever arrives within ms.
    void Drain(DWORD ms);

private:
    TestComPort *port_;
};

std::string Hex(const std::vector<uint8_t> &bytes);

// A console program (the simulated reader) started with its output going to
// a file; ended when the object goes if it is still running.
struct Simulator {
    PROCESS_INFORMATION pi = {};

    bool Start(const std::string &exe, const std::string &args, const std::string &log_path);
    bool Wait(DWORD ms) const { return WaitForSingleObject(pi.hProcess, ms) == WAIT_OBJECT_0; }
    bool Running() const { return pi.hProcess && WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT; }
    ~Simulator();
};

// The message box that a modal refusal opens on the dialog: waits for it,
// returns its message text (the static that is not the icon) and closes it
// with its OK button. Empty text when no box came.
std::string ReadAndCloseMessageBox(const Tarnwick &t, DWORD timeout_ms);

} // namespace tarnwick
