// The serial link against null-modem pairs (run by with-com-pairs.sh with
// 3:301 10:302 200:303). The link drives COM3; the test plays the device on
// COM301. The device ends lie beyond what either program lists, so a listing
// finds exactly COM3, COM10 and COM200.
#include "serial/line_state.h"
#include "serial/receive_pass.h"
#include "serial/win32/line_state_win32.h"
#include "serial/win32/port_change_win32.h"
#include "serial/win32/port_list_win32.h"
#include "serial/win32/serial_link.h"
#include "tools/driver/com_test_support.h"

#include <dbt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr uint32_t kLinkPort = 3;
constexpr uint32_t kDevicePort = 301;

// Chunks handed on by the receive thread.
std::mutex SinkLock;
std::vector<std::vector<uint8_t>> SinkChunks; // guarded by SinkLock

void CaptureSink(const uint8_t *data, uint32_t length)
{
    std::lock_guard<std::mutex> lock(SinkLock);
    SinkChunks.emplace_back(data, data + length);
}

void ClearSink()
{
    std::lock_guard<std::mutex> lock(SinkLock);
    SinkChunks.clear();
}

std::vector<std::vector<uint8_t>> SinkSnapshot()
{
    std::lock_guard<std::mutex> lock(SinkLock);
    return SinkChunks;
}

std::vector<uint8_t> SinkBytes()
{
    std::vector<uint8_t> all;
    for (const auto &c : SinkSnapshot())
        all.insert(all.end(), c.begin(), c.end());
    return all;
}

// Waits until the sink holds at least n bytes or timeout_ms passed.
std::vector<uint8_t> WaitForSinkBytes(size_t n, DWORD timeout_ms)
{
    const DWORD start = GetTickCount();
    std::vector<uint8_t> all = SinkBytes();
    while (all.size() < n && GetTickCount() - start < timeout_ms) {
        Sleep(5);
        all = SinkBytes();
    }
    return all;
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return bytes;
}

class SerialLink : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static bool started = false;
        if (started)
            return;
        started = true;
        // Wine's COM1 is the host's ttyS0: never ours to open.
        RemoveForeignComPorts();
        SerialConfigure(SerialFlavor::Tarnwick, CaptureSink);
        const HANDLE thread = CreateThread(nullptr, 0, SerialReceiveThread, nullptr, 0, nullptr);
        ASSERT_NE(nullptr, thread);
        CloseHandle(thread);
    }

    void SetUp() override { Use(SerialFlavor::Tarnwick); }

    void TearDown() override { SerialClose(); }

    static void Use(SerialFlavor flavor)
    {
        SerialClose();
        Sleep(20); // let a read of the closed port finish before the sink is cleared
        SerialConfigure(flavor, CaptureSink);
        ClearSink();
    }

    const std::string link_path_ = ComDevicePath(kLinkPort);
};

bool IsOpen()
{
    return PortHandle.load() != INVALID_HANDLE_VALUE;
}

TEST_F(SerialLink, OpensAtEverySpeedWith8N1AndTheGivenTimeouts)
{
    struct Case {
        uint32_t index;
        DWORD rate;
    };
    const Case cases[] = {{0, 9600},   {1, 14400},  {2, 19200},       {3, 38400}, {4, 56000},
                          {5, 57600},  {6, 115200}, {7, 9600}, {0xFFFFFFFFu, 9600}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.index);
        ASSERT_TRUE(SerialOpen(link_path_.c_str(), c.index));
        const HANDLE port = PortHandle.load();
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState(port, &dcb));
        EXPECT_EQ(ReadBackBaudRate(c.rate), dcb.BaudRate); // 8N1: the open's line state, tested below

        COMMTIMEOUTS t{};
        ASSERT_TRUE(GetCommTimeouts(port, &t));
        EXPECT_EQ(MAXDWORD, t.ReadIntervalTimeout);
        EXPECT_EQ(0u, t.ReadTotalTimeoutMultiplier);
        EXPECT_EQ(0u, t.ReadTotalTimeoutConstant);
        EXPECT_EQ(100u, t.WriteTotalTimeoutMultiplier);
        EXPECT_EQ(500u, t.WriteTotalTimeoutConstant);
        DWORD mask = 0;
        ASSERT_TRUE(GetCommMask(port, &mask));
        EXPECT_EQ(static_cast<DWORD>(EV_RXCHAR), mask);
    }
    // The two rates Wine cannot show still come from the table.
    EXPECT_EQ(14400u, BaudRateForIndex(1));
    EXPECT_EQ(56000u, BaudRateForIndex(4));
}

// The device sends in bursts of assorted sizes; every byte reaches the sink
// once, in order, in chunks of at most one read.
void ExpectBurstsArriveInOrder(TestComPort *device)
{
    std::vector<uint8_t> sent;
    uint8_t seed = 1;
    for (uint32_t n : {1u, 5u, 19u, 64u, 300u, 1024u, 1500u, 3000u, 2u}) {
        const std::vector<uint8_t> burst = Pattern(n, seed++);
        ASSERT_TRUE(device->Write(burst));
        sent.insert(sent.end(), burst.begin(), burst.end());
        Sleep(n % 3 == 0 ? 0 : 15);
    }
    const std::vector<uint8_t> got = WaitForSinkBytes(sent.size(), 10000);
    EXPECT_EQ(sent, got);
    const auto chunks = SinkSnapshot();
    EXPECT_GT(chunks.size(), 1u);
    for (const auto &c : chunks) {
        EXPECT_GT(c.size(), 0u);
        EXPECT_LE(c.size(), 1024u);
    }
}

// Whether a handle value still names an open COM port. Wine does not
// enforce exclusive opens of COM ports, so whether a port was released is
// seen on the handle itself; a closed value may be reused at once by any
// other object (an event, a thread), which is no COM port either.
bool IsComPortHandle(HANDLE h)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    return GetCommState(h, &dcb) != FALSE;
}

TEST_F(SerialLink, OpenCloseStateTransitions)
{
    // A null path leaves an open port open, the same handle.
    ASSERT_TRUE(SerialOpen(link_path_.c_str(), 6));
    const HANDLE first = PortHandle.load();
    EXPECT_FALSE(SerialOpen(nullptr, 6));
    EXPECT_EQ(first, PortHandle.load());
    EXPECT_TRUE(IsComPortHandle(first));

    // Reopening the same port closes the old handle first (the new one may
    // reuse its value).
    EXPECT_TRUE(SerialOpen(link_path_.c_str(), 0));
    const HANDLE second = PortHandle.load();
    EXPECT_TRUE(IsOpen());
    EXPECT_TRUE(second == first || !IsComPortHandle(first));

    // A missing port while another is open: false, none is open, and the
    // old handle is closed.
    EXPECT_FALSE(SerialOpen("\\\\.\\COM99", 6));
    EXPECT_FALSE(IsOpen());
    EXPECT_FALSE(IsComPortHandle(second));

    // Close with none open, and twice after an open: nothing happens.
    SerialClose();
    EXPECT_FALSE(IsOpen());
    ASSERT_TRUE(SerialOpen(link_path_.c_str(), 6));
    const HANDLE third = PortHandle.load();
    SerialClose();
    EXPECT_FALSE(IsComPortHandle(third));
    SerialClose();
    EXPECT_FALSE(IsOpen());

    // The port still works after all that.
    TestComPort device(kDevicePort);
    ASSERT_TRUE(device.IsOpen());
    ASSERT_TRUE(SerialOpen(link_path_.c_str(), 6));
    ExpectBurstsArriveInOrder(&device);
}

TEST_F(SerialLink, WritesReachThePeerWholeAndInOrder)
{
    TestComPort device(kDevicePort);
    ASSERT_TRUE(device.IsOpen());

    // No port open: nothing goes out.
    const std::vector<uint8_t> stray = Pattern(16, 0x40);
    SerialWrite(stray.data(), static_cast<uint32_t>(stray.size()));
    EXPECT_TRUE(device.ReadUntilQuiet(200, 300).empty());

    ASSERT_TRUE(SerialOpen(link_path_.c_str(), 6));
    std::vector<uint8_t> expected;
    for (uint32_t n : {1u, 12u, 13u, 255u, 700u}) {
        const std::vector<uint8_t> frame = Pattern(n, static_cast<uint8_t>(n));
        SerialWrite(frame.data(), n);
        expected.insert(expected.end(), frame.begin(), frame.end());
    }
    EXPECT_EQ(expected, device.Read(static_cast<uint32_t>(expected.size()), 5000));
}

TEST_F(SerialLink, PellfrayNeverHandsOnBytesThatArrivedWhileNotReady)
{
    Use(SerialFlavor::Pellfray);
    TestComPort device(kDevicePort);
    ASSERT_TRUE(device.IsOpen());

    // Sent while the port is closed: they wait in the port's input queue
    // and are purged by the open.
    const std::vector<uint8_t> before_open(100, 0xEE);
    ASSERT_TRUE(device.Write(before_open));
    {
        TestComPort probe;
        ASSERT_TRUE(probe.Open(kLinkPort, false));
        ASSERT_TRUE(probe.WaitForQueuedInput(100));
    }
    ASSERT_TRUE(SerialOpen(link_path_.c_str(), 6));
    const std::vector<uint8_t> first = Pattern(30, 0x01);
    ASSERT_TRUE(device.Write(first));
    EXPECT_EQ(first, WaitForSinkBytes(first.size(), 10000));
    Sleep(100);
    EXPECT_EQ(first, SinkBytes());

    // The port open but not ready (as while an open is configuring it): the
    // bytes are read and held, more than the staging buffer holds, and the
    // next open drops them.
    ClearSink();
    PortReady.store(false);
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(device.Write(std::vector<uint8_t>(700, 0xEE)));
        Sleep(30);
    }
    Sleep(200);
    EXPECT_TRUE(SinkBytes().empty());
    ASSERT_TRUE(SerialOpen(link_path_.c_str(), 6));
    const std::vector<uint8_t> second = Pattern(50, 0x02);
    ASSERT_TRUE(device.Write(second));
    EXPECT_EQ(second, WaitForSinkBytes(second.size(), 10000));
}

// The link's calls on the port, seen through this program's imports of
// them: what it asks of the driver, line errors a write took from the port,
// and whether each call is issued under the link's lock (a second thread
// that asks whether the port answers must wait until the call is done).
void *ReplaceImport(const char *function, void *replacement)
{
    auto *base = reinterpret_cast<uint8_t *>(GetModuleHandleA(nullptr));
    const auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
    const DWORD at = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto *dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + at); dll->Name != 0; ++dll) {
        auto *name = reinterpret_cast<IMAGE_THUNK_DATA *>(base + dll->OriginalFirstThunk);
        auto *slot = reinterpret_cast<IMAGE_THUNK_DATA *>(base + dll->FirstThunk);
        for (; name->u1.AddressOfData != 0; ++name, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal) ||
                std::strcmp(reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + name->u1.AddressOfData)->Name, function))
                continue;
            DWORD old = 0;
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &old);
            void *previous = reinterpret_cast<void *>(slot->u1.Function);
            slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, old, &old);
            return previous;
        }
    }
    return nullptr;
}

decltype(&SetupComm) RealSetupComm;
decltype(&ClearCommError) RealClearCommError;
decltype(&ReadFile) RealReadFile;
decltype(&WaitCommEvent) RealWaitCommEvent;
std::atomic<DWORD> AskedReceiveQueue{0};
std::atomic<DWORD> WriterThread{0};
std::atomic<bool> WriterFindsFraming{false};
std::atomic<uint32_t> ReportedLineErrors{0};
std::atomic<int> LockChecksLeft{0};
std::atomic<int> UnlockedCalls{0};
thread_local bool Probing = false;

DWORD WINAPI AskWhetherThePortAnswers(LPVOID)
{
    Probing = true;
    SerialPortAnswers();
    return 0;
}

// Called from within a call on the open port: the probe must not get
// through before the call returns.
void CheckIssuedUnderTheLock(HANDLE port, bool now = false)
{
    if (Probing || port != PortHandle.load() || (!now && LockChecksLeft.fetch_sub(1) <= 0))
        return;
    const HANDLE probe = CreateThread(nullptr, 0, AskWhetherThePortAnswers, nullptr, 0, nullptr);
    if (WaitForSingleObject(probe, 100) == WAIT_OBJECT_0)
        ++UnlockedCalls;
    CloseHandle(probe); // a probe that waits gets through once the call is done
}

BOOL WINAPI SpySetupComm(HANDLE port, DWORD in, DWORD out)
{
    AskedReceiveQueue = in;
    return RealSetupComm(port, in, out);
}

BOOL WINAPI SpyClearCommError(HANDLE port, LPDWORD errors, LPCOMSTAT status)
{
    const bool writer = GetCurrentThreadId() == WriterThread.load() && WriterFindsFraming.exchange(false);
    CheckIssuedUnderTheLock(port, writer);
    const BOOL answered = RealClearCommError(port, errors, status);
    if (answered && errors != nullptr && writer)
        *errors |= CE_FRAME;
    return answered;
}

BOOL WINAPI SpyReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped)
{
    CheckIssuedUnderTheLock(file);
    return RealReadFile(file, buffer, size, read, overlapped);
}

BOOL WINAPI SpyWaitCommEvent(HANDLE port, LPDWORD mask, LPOVERLAPPED overlapped)
{
    CheckIssuedUnderTheLock(port);
    return RealWaitCommEvent(port, mask, overlapped);
}

void NoteLineErrors(uint32_t flags)
{
    ReportedLineErrors |= flags;
}

template <class F> void Replace(const char *function, F spy, F *real)
{
    *real = reinterpret_cast<F>(ReplaceImport(function, reinterpret_cast<void *>(spy)));
    ASSERT_NE(nullptr, *real) << function;
}

TEST_F(SerialLink, AsksForItsReceiveQueueAndCallsThePortUnderItsLock)
{
    Replace("SetupComm", SpySetupComm, &RealSetupComm);
    Replace("ClearCommError", SpyClearCommError, &RealClearCommError);
    Replace("ReadFile", SpyReadFile, &RealReadFile);
    Replace("WaitCommEvent", SpyWaitCommEvent, &RealWaitCommEvent);
    SerialSetEvents(SerialEvents{NoteLineErrors, nullptr});
    TestComPort device(kDevicePort);
    ASSERT_TRUE(device.IsOpen());
    ASSERT_TRUE(SerialOpen(link_path_.c_str(), 6));
    EXPECT_EQ(kDriverReceiveQueue, AskedReceiveQueue.load());

    // A write's look at the port takes a framing error from it: the receive
    // thread reports it all the same.
    WriterThread = GetCurrentThreadId();
    WriterFindsFraming = true;
    const uint8_t byte = 0x42;
    SerialWrite(&byte, 1);
    EXPECT_FALSE(WriterFindsFraming.load());
    LockChecksLeft = 6;
    ASSERT_TRUE(device.Write(Pattern(40, 3)));
    const DWORD start = GetTickCount();
    while ((ReportedLineErrors.load() == 0 || LockChecksLeft.load() > 0) && GetTickCount() - start < 10000) {
        ASSERT_TRUE(device.Write(Pattern(1, 9)));
        Sleep(20);
    }
    EXPECT_EQ(kLineErrorFraming, ReportedLineErrors.load());
    EXPECT_LE(LockChecksLeft.load(), 0) << "the receive thread made too few calls";
    EXPECT_EQ(0, UnlockedCalls.load());
    SerialSetEvents(SerialEvents{nullptr, nullptr});
    ReplaceImport("SetupComm", reinterpret_cast<void *>(RealSetupComm));
    ReplaceImport("ClearCommError", reinterpret_cast<void *>(RealClearCommError));
    ReplaceImport("ReadFile", reinterpret_cast<void *>(RealReadFile));
    ReplaceImport("WaitCommEvent", reinterpret_cast<void *>(RealWaitCommEvent));
}

// Another program left the port with XON/XOFF and handshaking on. The open
// sets every field of the line state (as far as the driver reads them back),
// and bytes that XON/XOFF would swallow all arrive.
TEST_F(SerialLink, EveryOpenSetsTheWholeLineStateWhateverThePortKept)
{
    ASSERT_TRUE(LeaveComPortInAnotherProgramsState(kLinkPort)) << "XON/XOFF not taken: the test proves nothing";
    ASSERT_TRUE(SerialOpen(link_path_.c_str(), 6));
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(PortHandle.load(), &dcb));
    const LineState got = LineStateOf(dcb);
    const LineState want = BenchLineState(115200);
    // The fields a termios-based driver (Wine's) keeps and reads back; it
    // does not keep fNull, fErrorChar, fAbortOnError, fDsrSensitivity or
    // fTXContinueOnXoff, which the open sets all the same.
    const auto kept = [](const LineState &s) {
        return std::make_tuple(s.baud_rate, s.byte_size, s.parity, s.stop_bits, s.binary, s.parity_check, s.out_x,
                               s.in_x, s.outx_cts_flow, s.outx_dsr_flow, s.rts_control, s.dtr_control);
    };
    EXPECT_EQ(kept(want), kept(got));

    TestComPort device(kDevicePort);
    ASSERT_TRUE(device.IsOpen());
    std::vector<uint8_t> sent;
    for (int i = 0; i < 64; ++i) {
        sent.push_back(static_cast<uint8_t>(i % 2 == 0 ? 0x11 : 0x13));
        sent.push_back(static_cast<uint8_t>(i));
        sent.push_back(0x00);
    }
    ASSERT_TRUE(device.Write(sent));
    EXPECT_EQ(sent, WaitForSinkBytes(sent.size(), 3000));
    // And the other way: a write is not held by flow control.
    const uint8_t out[] = {0x13, 0x11, 0x00, 0x55};
    EXPECT_EQ(WriteStatus::Sent, SerialWriteReport(out, sizeof out).status);
    EXPECT_EQ(std::vector<uint8_t>(out, out + sizeof out), device.Read(sizeof out, 2000));
}

// Every field the line state names lands in its own DCB field, whatever
// the DCB held before; what the driver keeps of them is the test above.
TEST(LineStateDcb, EveryFieldLandsInItsDcbField)
{
    DCB dcb;
    std::memset(&dcb, 0xFF, sizeof dcb);
    ApplyLineState(BenchLineState(57600), &dcb);
    const struct {
        const char *field;
        DWORD value;
        DWORD want;
    } fields[] = {
        {"DCBlength", dcb.DCBlength, sizeof(DCB)},
        {"BaudRate", dcb.BaudRate, 57600},
        {"ByteSize", dcb.ByteSize, 8},
        {"Parity", dcb.Parity, NOPARITY},
        {"StopBits", dcb.StopBits, ONESTOPBIT},
        {"fBinary", dcb.fBinary, 1},
        {"fParity", dcb.fParity, 0},
        {"fErrorChar", dcb.fErrorChar, 0},
        {"fNull", dcb.fNull, 0},
        {"fOutxCtsFlow", dcb.fOutxCtsFlow, 0},
        {"fOutxDsrFlow", dcb.fOutxDsrFlow, 0},
        {"fDsrSensitivity", dcb.fDsrSensitivity, 0},
        {"fOutX", dcb.fOutX, 0},
        {"fInX", dcb.fInX, 0},
        {"fTXContinueOnXoff", dcb.fTXContinueOnXoff, 1},
        {"fAbortOnError", dcb.fAbortOnError, 0},
        {"fDtrControl", dcb.fDtrControl, DTR_CONTROL_ENABLE},
        {"fRtsControl", dcb.fRtsControl, RTS_CONTROL_ENABLE},
    };
    for (const auto &f : fields)
        EXPECT_EQ(f.want, f.value) << f.field;
}

// What a WM_DEVICECHANGE names: only a port's arrival or removal, by its
// name as Windows gives it (narrow or wide), made canonical.
TEST(PortChange, NamesAPortOnlyOnArrivalOrRemoval)
{
    auto narrow = [](DWORD type, const char *name) {
        std::vector<char> record(sizeof(DEV_BROADCAST_PORT_A) + 16, 0);
        auto *port = reinterpret_cast<DEV_BROADCAST_PORT_A *>(record.data());
        port->dbcp_devicetype = type;
        std::strcpy(port->dbcp_name, name);
        port->dbcp_size = static_cast<DWORD>(offsetof(DEV_BROADCAST_PORT_A, dbcp_name) + std::strlen(name) + 1);
        return record;
    };
    std::vector<char> wide(sizeof(DEV_BROADCAST_PORT_W) + 32, 0);
    auto *w = reinterpret_cast<DEV_BROADCAST_PORT_W *>(wide.data());
    w->dbcp_devicetype = DBT_DEVTYP_PORT;
    std::wcscpy(w->dbcp_name, L"COM12");
    w->dbcp_size = static_cast<DWORD>(offsetof(DEV_BROADCAST_PORT_W, dbcp_name) + 6 * sizeof(wchar_t));

    const std::vector<char> com5 = narrow(DBT_DEVTYP_PORT, "COM5");
    const std::vector<char> lower = narrow(DBT_DEVTYP_PORT, "com7");
    const std::vector<char> lpt = narrow(DBT_DEVTYP_PORT, "LPT1");
    const std::vector<char> volume = narrow(DBT_DEVTYP_VOLUME, "COM5");
    std::vector<char> cut = narrow(DBT_DEVTYP_PORT, "COM5");
    reinterpret_cast<DEV_BROADCAST_HDR *>(cut.data())->dbch_size = sizeof(DEV_BROADCAST_HDR);
    const struct {
        const char *what;
        WPARAM event;
        const char *record;
        PortChange change;
        const char *name;
    } cases[] = {
        {"removed, narrow", DBT_DEVICEREMOVECOMPLETE, com5.data(), PortChange::Removed, "COM5"},
        {"arrived, narrow", DBT_DEVICEARRIVAL, com5.data(), PortChange::Arrived, "COM5"},
        {"arrived, wide", DBT_DEVICEARRIVAL, wide.data(), PortChange::Arrived, "COM12"},
        {"small letters", DBT_DEVICEREMOVECOMPLETE, lower.data(), PortChange::Removed, "COM7"},
        {"a removal only asked for", DBT_DEVICEQUERYREMOVE, com5.data(), PortChange::None, ""},
        {"nodes changed", DBT_DEVNODES_CHANGED, nullptr, PortChange::None, ""},
        {"no record", DBT_DEVICEARRIVAL, nullptr, PortChange::None, ""},
        {"a volume", DBT_DEVICEARRIVAL, volume.data(), PortChange::None, ""},
        {"a printer port", DBT_DEVICEARRIVAL, lpt.data(), PortChange::None, ""},
        {"no room for a name", DBT_DEVICEARRIVAL, cut.data(), PortChange::None, ""},
    };
    for (const auto &c : cases) {
        std::string name;
        EXPECT_EQ(c.change, PortChangeOf(c.event, reinterpret_cast<LPARAM>(c.record), &name)) << c.what;
        EXPECT_EQ(c.name, name) << c.what;
    }
}

// The refills' list: what the device map holds, read without opening, in
// the programs' ranges, whatever else drivers wrote there.
TEST_F(SerialLink, ListsTheRegisteredPortsWithoutOpeningThem)
{
    ASSERT_TRUE(RegisterComValue("\\Device\\Odd0", "com7")); // registered, never made: listed all the same
    ASSERT_TRUE(RegisterComValue("\\Device\\Odd1", "COM7"));
    ASSERT_TRUE(RegisterComValue("\\Device\\Odd2", "junk"));
    ASSERT_TRUE(RegisterComValue("\\Device\\Odd3", "COM33"));
    ListRegisteredComPorts(256);
    EXPECT_EQ((std::vector<uint32_t>{3, 7, 10, 33, 200}), std::vector<uint32_t>(ComPortList, ComPortList + ComPortCount));
    ListRegisteredComPorts(32);
    EXPECT_EQ((std::vector<uint32_t>{3, 7, 10}), std::vector<uint32_t>(ComPortList, ComPortList + ComPortCount));
    for (const char *value : {"\\Device\\Odd0", "\\Device\\Odd1", "\\Device\\Odd2", "\\Device\\Odd3"})
        EXPECT_TRUE(UnregisterComValue(value));
}

TEST_F(SerialLink, ListsOnlyThePortsThatOpen)
{
    EnumerateComPorts();
    ASSERT_EQ(3u, ComPortCount);
    EXPECT_EQ(3u, ComPortList[0]);
    EXPECT_EQ(10u, ComPortList[1]);
    EXPECT_EQ(200u, ComPortList[2]);

    const uint32_t mask = EnumerateComPortMask();
    EXPECT_EQ(0x00000204u, mask);
    ExpandComPortMask(mask);
    ASSERT_EQ(2u, ComPortCount);
    EXPECT_EQ(3u, ComPortList[0]);
    EXPECT_EQ(10u, ComPortList[1]);
}

} // namespace
