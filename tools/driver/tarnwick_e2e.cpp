#include "tools/driver/tarnwick_e2e.h"

#include <cstdio>

#include "serial/crc16.h"

namespace tarnwick {

int CellId(int row, int column)
{
    return (row == 0 && column == 0) ? 1088 : 1106 + kColumns * row + column;
}

void ForgetSettings()
{
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\RfidBench\\Tarnwick");
}

bool Tarnwick::Start()
{
    if (!keep_settings)
        ForgetSettings();
    if (!program.Start(BENCH_TARGET_FILE_Tarnwick))
        return false;
    main = gui::WaitForWindow("QUORVEL", program.pid(), kStartTimeoutMs);
    if (main)
        dialog = gui::WaitForChildDialog(main, kTimeoutMs);
    return main && dialog;
}

bool Tarnwick::Quit()
{
    PostMessageA(main, WM_CLOSE, 0, 0);
    DWORD code = 99;
    return program.WaitExit(kTimeoutMs, &code) && code == 0;
}

std::vector<std::string> Tarnwick::Row(int row) const
{
    std::vector<std::string> cells;
    for (int c = 0; c < kColumns; ++c)
        cells.push_back(Cell(row, c));
    return cells;
}

std::string Tarnwick::Cell(int row, int column) const { return gui::Text(dialog, CellId(row, column)); }

std::vector<std::string> Tarnwick::Labels() const
{
    return {gui::Text(dialog, kReaderLabel), gui::Text(dialog, kTotalLabel), gui::Text(dialog, kOfflineLabel)};
}

bool Tarnwick::ChoosePort(uint32_t n) { return gui::ComboSelect(dialog, kPortList, "COM" + std::to_string(n)); }

bool Tarnwick::ChooseSpeed(const char *speed) { return gui::ComboSelect(dialog, kSpeedList, speed); }

void Tarnwick::PressPortButton() const { gui::Click(dialog, kPortButton); }

void Tarnwick::TypeInto(int id, const std::string &text) const
{
    HWND edit = gui::Control(dialog, id);
    SendMessageA(edit, EM_SETSEL, 0, -1);
    SendMessageA(edit, WM_CHAR, VK_BACK, 1); // deletes the selection
    gui::Type(dialog, id, text);
}

void Tarnwick::SetCheck(int id, bool on) const
{
    if (gui::Checked(dialog, id) != on)
        gui::Click(dialog, id);
}

std::vector<std::string> EmptyRow() { return std::vector<std::string>(kColumns, ""); }

// --- the reader's frames ----------------------------------------------------

const std::vector<uint8_t> kExampleReportFF = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x03, 0xE8, 0x00, 0xCE, 0xEF, 0x41};
const std::vector<uint8_t> kExampleReport55AA = {0x55, 0xAA, 0x00, 0x00, 0x00, 0x00, 0x03, 0xE8,
                                           0x41, 0x12, 0x34, 0xCE, 0x4E, 0x33};

namespace {

void PutId(std::vector<uint8_t> *out, uint32_t id)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out->push_back(static_cast<uint8_t>(id >> shift));
}

void AppendCrc(std::vector<uint8_t> *frame, size_t from)
{
    uint8_t crc[2];
    PutCrc16(crc, Crc16Modbus(frame->data() + from, frame->size() - from));
    frame->push_back(crc[0]);
    frame->push_back(crc[1]);
}

} // namespace

std::vector<uint8_t> TagReport(Header header, uint32_t id, bool under_voltage, int8_t signal,
                               const std::vector<uint8_t> &extra)
{
    std::vector<uint8_t> f;
    if (header == Header::kFF)
        f = {0xFF, 0xFF, 0xFF, 0xFF};
    else
        f = {0x55, 0xAA, 0x00, 0x00};
    PutId(&f, id);
    f.push_back(static_cast<uint8_t>((extra.size() << 5) | (under_voltage ? 1 : 0)));
    f.insert(f.end(), extra.begin(), extra.end());
    f.push_back(static_cast<uint8_t>(signal));
    AppendCrc(&f, header == Header::kFF ? 0 : 2);
    return f;
}

std::vector<uint8_t> ReminderFrame(Header header, uint32_t first_id, uint32_t n, uint8_t mode)
{
    std::vector<uint8_t> f;
    if (header == Header::kFF)
        f = {0xFF, 0xFF, 0xFF, 0xFF, 0x01};
    else
        f = {0x55, 0xAA, 0x02};
    f.push_back(static_cast<uint8_t>(5 * n));
    for (uint32_t i = 0; i < n; ++i) {
        PutId(&f, first_id + i);
        f.push_back(mode);
    }
    AppendCrc(&f, header == Header::kFF ? 0 : 2);
    return f;
}

Received ReminderListener::Next(DWORD timeout_ms)
{
    Received r;
    // The first byte tells the layout: FF FF FF FF 01 len, or 55 AA 02 len.
    std::vector<uint8_t> head = port_->Read(1, timeout_ms);
    if (head.empty())
        return r;
    r.at_ms = GetTickCount();
    r.bytes = head;
    const size_t header_length = head[0] == 0xFF ? 6 : head[0] == 0x55 ? 4 : 1;
    if (header_length == 1)
        return r; // not a frame start: shown to the test as it is
    const std::vector<uint8_t> rest = port_->Read(static_cast<uint32_t>(header_length - 1), 500);
    r.bytes.insert(r.bytes.end(), rest.begin(), rest.end());
    if (r.bytes.size() < header_length)
        return r;
    const uint32_t body = r.bytes[header_length - 1] + 2u; // entries and CRC
    const std::vector<uint8_t> tail = port_->Read(body, 500);
    r.bytes.insert(r.bytes.end(), tail.begin(), tail.end());
    return r;
}

std::vector<Received> ReminderListener::Collect(DWORD ms)
{
    std::vector<Received> frames;
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - start;
        if (spent >= ms)
            return frames;
        Received r = Next(ms - spent);
        if (!r.bytes.empty())
            frames.push_back(std::move(r));
    }
}

void ReminderListener::Drain(DWORD ms) { port_->Drain(ms); }

std::string Hex(const std::vector<uint8_t> &bytes)
{
    std::string s;
    char b[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
        s += b;
    }
    return s;
}

bool Simulator::Start(const std::string &exe, const std::string &args, const std::string &log_path)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE log = CreateFileA(log_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE)
        return false;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = log;
    si.hStdError = log;
    std::string cmd = "\"" + exe + "\" " + args;
    const BOOL ok = CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(log);
    if (ok)
        CloseHandle(pi.hThread);
    return ok != FALSE;
}

Simulator::~Simulator()
{
    if (!pi.hProcess)
        return;
    if (!Wait(0))
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hProcess);
}

std::string ReadAndCloseMessageBox(const Tarnwick &t, DWORD timeout_ms)
{
    HWND box = gui::WaitForPopup(t.program.pid(), nullptr, timeout_ms);
    if (!box)
        return "";
    // The box holds its icon (a static without text), the message static and
    // the OK button.
    std::string message;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char cls[32] = {};
        GetClassNameA(child, cls, sizeof cls);
        const std::string text = gui::Text(child);
        if (lstrcmpiA(cls, "Static") == 0 && !text.empty())
            message = text;
    }
    gui::ClickAsync(box, IDOK);
    gui::WaitUntil([&] { return !IsWindow(box); }, timeout_ms);
    return message;
}

} // namespace tarnwick
