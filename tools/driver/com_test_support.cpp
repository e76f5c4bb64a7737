#include "tools/driver/com_test_support.h"

#include <dbt.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

std::vector<std::pair<uint32_t, uint32_t>> ComPairsFromEnvironment()
{
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    const char *text = std::getenv("BENCH_COM_PAIRS");
    if (!text)
        return pairs;
    while (*text) {
        unsigned a = 0, b = 0;
        int used = 0;
        if (std::sscanf(text, " %u:%u%n", &a, &b, &used) != 2 || used <= 0)
            break;
        pairs.emplace_back(a, b);
        text += used;
    }
    return pairs;
}

uint32_t ComPeerOf(uint32_t n)
{
    for (const auto &p : ComPairsFromEnvironment()) {
        if (p.first == n)
            return p.second;
        if (p.second == n)
            return p.first;
    }
    return 0;
}

DWORD ReadBackBaudRate(DWORD rate)
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const bool wine = ntdll && GetProcAddress(ntdll, "wine_get_version");
    if (wine && (rate == 14400 || rate == 56000))
        return 38400;
    return rate;
}

std::string ComDevicePath(uint32_t n)
{
    char path[16];
    std::snprintf(path, sizeof path, "\\\\.\\COM%u", static_cast<unsigned>(n));
    return path;
}

bool ComPortOpens(uint32_t n)
{
    const HANDLE h =
        CreateFileA(ComDevicePath(n).c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

namespace {

// Wine finds a COM port by its DOS device definition, or failing that by a
// link comN in the prefix's dosdevices folder. The harness removes foreign
// links before the program starts (a Windows program cannot); this removes
// the definitions, which Wine makes for the host's ttyS0 as COM1.
bool RemoveComDefinition(uint32_t n)
{
    char name[8];
    std::snprintf(name, sizeof name, "COM%u", static_cast<unsigned>(n));
    char target[512];
    if (QueryDosDeviceA(name, target, sizeof target) == 0)
        return false;
    return DefineDosDeviceA(DDD_REMOVE_DEFINITION, name, nullptr) != FALSE;
}

const char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

std::string SerialValueName(uint32_t n)
{
    return "\\Device\\BenchSerial" + std::to_string(n);
}

HKEY OpenSerialComm()
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

} // namespace

bool RegisterComValue(const std::string &value, const std::string &data)
{
    const HKEY key = OpenSerialComm();
    if (!key)
        return false;
    const LONG result = RegSetValueExA(key, value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(data.c_str()),
                                       static_cast<DWORD>(data.size() + 1));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool UnregisterComValue(const std::string &value)
{
    const HKEY key = OpenSerialComm();
    if (!key)
        return false;
    const LONG result = RegDeleteValueA(key, value.c_str());
    RegCloseKey(key);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

bool RegisterComPort(uint32_t n)
{
    return RegisterComValue(SerialValueName(n), "COM" + std::to_string(n));
}

bool UnregisterComPort(uint32_t n)
{
    return UnregisterComValue(SerialValueName(n));
}

bool ClearRegisteredComPorts()
{
    const HKEY key = OpenSerialComm();
    if (!key)
        return false;
    bool ok = true;
    for (;;) {
        char value[256];
        DWORD size = sizeof value;
        const LONG result = RegEnumValueA(key, 0, value, &size, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || RegDeleteValueA(key, value) != ERROR_SUCCESS) {
            ok = false;
            break;
        }
    }
    RegCloseKey(key);
    return ok;
}

int RemoveForeignComPorts()
{
    const auto pairs = ComPairsFromEnvironment();
    int removed = 0;
    for (uint32_t n = 1; n <= 999; ++n) {
        bool ours = false;
        for (const auto &p : pairs)
            ours = ours || p.first == n || p.second == n;
        if (!ours && RemoveComDefinition(n))
            ++removed;
    }
    ClearRegisteredComPorts();
    for (const auto &p : pairs) {
        RegisterComPort(p.first);
        RegisterComPort(p.second);
    }
    return removed;
}

bool RemoveWineCom1()
{
    return RemoveComDefinition(1);
}

bool TestComPort::Open(uint32_t n, bool purge)
{
    Close();
    handle_ = CreateFileA(ComDevicePath(n).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE)
        return false;
    event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(handle_, &dcb);
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(handle_, &dcb);

    // Return at once with what is there; the time limits are ours.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    SetCommTimeouts(handle_, &timeouts);
    if (purge)
        PurgeComm(handle_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return true;
}

uint32_t TestComPort::QueuedInput()
{
    DWORD errors = 0;
    COMSTAT status{};
    if (!IsOpen() || !ClearCommError(handle_, &errors, &status))
        return 0;
    return status.cbInQue;
}

bool TestComPort::WaitForQueuedInput(uint32_t count, DWORD timeout_ms)
{
    const DWORD start = GetTickCount();
    while (QueuedInput() < count) {
        if (GetTickCount() - start >= timeout_ms)
            return false;
        Sleep(2);
    }
    return true;
}

void TestComPort::Close()
{
    if (handle_ != INVALID_HANDLE_VALUE) {
        CancelIoEx(handle_, nullptr);
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
    if (event_) {
        CloseHandle(event_);
        event_ = nullptr;
    }
}

bool TestComPort::Write(const void *data, uint32_t length, DWORD timeout_ms)
{
    if (!IsOpen())
        return false;
    const DWORD start = GetTickCount();
    const uint8_t *p = static_cast<const uint8_t *>(data);
    uint32_t done = 0;
    while (done < length) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeout_ms)
            return false;
        OVERLAPPED ov{};
        ov.hEvent = event_;
        DWORD n = 0;
        if (!WriteFile(handle_, p + done, length - done, &n, &ov)) {
            if (GetLastError() != ERROR_IO_PENDING)
                return false;
            if (WaitForSingleObject(event_, timeout_ms - elapsed) != WAIT_OBJECT_0)
                CancelIoEx(handle_, &ov);
            n = 0;
            GetOverlappedResult(handle_, &ov, &n, TRUE);
        }
        done += n;
    }
    return true;
}

uint32_t TestComPort::ReadSome(uint8_t *out, uint32_t max, DWORD timeout_ms)
{
    const DWORD start = GetTickCount();
    for (;;) {
        OVERLAPPED ov{};
        ov.hEvent = event_;
        DWORD n = 0;
        if (!ReadFile(handle_, out, max, &n, &ov)) {
            if (GetLastError() != ERROR_IO_PENDING)
                return 0;
            const DWORD elapsed = GetTickCount() - start;
            const DWORD left = elapsed < timeout_ms ? timeout_ms - elapsed : 0;
            if (WaitForSingleObject(event_, left) != WAIT_OBJECT_0)
                CancelIoEx(handle_, &ov);
            n = 0;
            GetOverlappedResult(handle_, &ov, &n, TRUE);
        }
        if (n > 0)
            return n;
        // A driver that returns at once with nothing: poll until the limit.
        if (GetTickCount() - start >= timeout_ms)
            return 0;
        Sleep(1);
    }
}

std::vector<uint8_t> TestComPort::Read(uint32_t length, DWORD timeout_ms)
{
    std::vector<uint8_t> got(length);
    if (!IsOpen())
        return {};
    const DWORD start = GetTickCount();
    uint32_t done = 0;
    while (done < length) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeout_ms)
            break;
        done += ReadSome(got.data() + done, length - done, timeout_ms - elapsed);
    }
    got.resize(done);
    return got;
}

std::vector<uint8_t> TestComPort::ReadUntilQuiet(DWORD quiet_ms, DWORD timeout_ms)
{
    std::vector<uint8_t> got;
    if (!IsOpen())
        return got;
    const DWORD start = GetTickCount();
    uint8_t buffer[1024];
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeout_ms)
            break;
        const DWORD wait = quiet_ms < timeout_ms - elapsed ? quiet_ms : timeout_ms - elapsed;
        const uint32_t n = ReadSome(buffer, sizeof buffer, wait);
        if (n == 0)
            break;
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

bool StallComLine(uint32_t n)
{
    TestComPort filler;
    if (!filler.Open(n, false)) // the program's unsent bytes stay queued
        return false;
    // Large blocks, then single bytes until not even one is taken: a block
    // left pending may leave room for a few bytes behind it.
    for (const size_t size : {4096, 256, 16, 1}) {
        const std::vector<uint8_t> block(size, 0x5A);
        int blocks = 0;
        while (filler.Write(block, 200) && ++blocks < 1000) {
        }
        if (blocks == 1000)
            return false;
    }
    return true;
}

namespace {

// The harness's request folder as a Windows path (Wine's Z: drive is the
// Unix root).
std::string CableDir()
{
    const char *dir = std::getenv("BENCH_CABLE_DIR");
    return dir != nullptr ? std::string("Z:") + dir : std::string();
}

bool CableRequest(const std::string &name)
{
    const std::string dir = CableDir();
    if (dir.empty())
        return false;
    const std::string request = dir + "/" + name;
    const HANDLE file = CreateFileA(request.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    const std::string done = request + ".done";
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 10000) {
        if (GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES) {
            DeleteFileA(done.c_str());
            return true;
        }
        Sleep(10);
    }
    return false;
}

} // namespace

bool UnlinkComPort(uint32_t n)
{
    return CableRequest("unlink-" + std::to_string(n)) && UnregisterComPort(n);
}

bool RelinkComPort(uint32_t n)
{
    return CableRequest("link-" + std::to_string(n)) && RegisterComPort(n);
}

bool PullComPair(uint32_t n)
{
    const uint32_t peer = ComPeerOf(n);
    return CableRequest("pull-" + std::to_string(n)) && UnregisterComPort(n) && (peer == 0 || UnregisterComPort(peer));
}

bool PlugComPair(uint32_t n)
{
    const uint32_t peer = ComPeerOf(n);
    return CableRequest("plug-" + std::to_string(n)) && RegisterComPort(n) && (peer == 0 || RegisterComPort(peer));
}

bool AddComPair(uint32_t a, uint32_t b)
{
    return CableRequest("add-" + std::to_string(a) + "-" + std::to_string(b)) && RegisterComPort(a) &&
           RegisterComPort(b);
}

bool RefuseComRate(uint32_t rate)
{
    const std::string path = CableDir() + "/refuse-baud";
    if (rate == 0)
        return DeleteFileA(path.c_str()) != FALSE || GetLastError() == ERROR_FILE_NOT_FOUND;
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const std::string text = std::to_string(rate);
    DWORD written = 0;
    const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size();
    CloseHandle(file);
    return ok;
}

bool LeaveComPortInAnotherProgramsState(uint32_t n)
{
    const HANDLE h = CreateFileA(ComDevicePath(n).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(h, &dcb);
    dcb.BaudRate = 9600;
    dcb.fOutX = TRUE;
    dcb.fInX = TRUE;
    dcb.fNull = TRUE;
    dcb.fParity = TRUE;
    dcb.fErrorChar = TRUE;
    dcb.fAbortOnError = TRUE;
    dcb.fOutxCtsFlow = TRUE;
    dcb.fOutxDsrFlow = TRUE;
    dcb.fDsrSensitivity = TRUE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    const bool set = SetCommState(h, &dcb) != FALSE;
    DCB kept{};
    kept.DCBlength = sizeof kept;
    const bool read = GetCommState(h, &kept) != FALSE;
    CloseHandle(h);
    return set && read && kept.fOutX && kept.fInX;
}

bool SendPortDeviceChange(HWND window, WPARAM event, const char *name, DWORD timeout_ms)
{
    DEV_BROADCAST_PORT_A port{};
    port.dbcp_size = sizeof port;
    port.dbcp_devicetype = DBT_DEVTYP_PORT;
    char record[sizeof port + 16] = {};
    std::memcpy(record, &port, sizeof port);
    std::snprintf(record + offsetof(DEV_BROADCAST_PORT_A, dbcp_name), sizeof record - sizeof port + 1, "%s", name);
    reinterpret_cast<DEV_BROADCAST_HDR *>(record)->dbch_size =
        static_cast<DWORD>(offsetof(DEV_BROADCAST_PORT_A, dbcp_name) + std::strlen(name) + 1);
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record), SMTO_NORMAL,
                               timeout_ms, &result) != 0;
}
