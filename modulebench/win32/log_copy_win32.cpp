#include "modulebench/win32/log_copy_win32.h"

#include <cstring>
#include <string>

namespace {

// Owns a global memory block until the clipboard takes it.
class GlobalText {
public:
    explicit GlobalText(const std::wstring &text)
        : memory_(GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t)))
    {
        void *at = memory_ != nullptr ? GlobalLock(memory_) : nullptr;
        if (at == nullptr) {
            Free();
            return;
        }
        std::memcpy(at, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
        GlobalUnlock(memory_);
    }
    ~GlobalText() { Free(); }
    GlobalText(const GlobalText &) = delete;
    GlobalText &operator=(const GlobalText &) = delete;

    HGLOBAL get() const { return memory_; }
    void Release() { memory_ = nullptr; }

private:
    void Free()
    {
        if (memory_ != nullptr)
            GlobalFree(memory_);
        memory_ = nullptr;
    }
    HGLOBAL memory_;
};

class Clipboard {
public:
    explicit Clipboard(HWND owner) : open_(OpenClipboard(owner) != FALSE) {}
    ~Clipboard()
    {
        if (open_)
            CloseClipboard();
    }
    Clipboard(const Clipboard &) = delete;
    Clipboard &operator=(const Clipboard &) = delete;
    bool open() const { return open_; }

private:
    bool open_;
};

size_t Count(HWND list)
{
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    return count > 0 ? static_cast<size_t>(count) : 0;
}

} // namespace

bool CopyListLines(HWND owner, HWND list, size_t first, size_t end)
{
    const size_t count = Count(list);
    if (end > count)
        end = count;
    std::wstring text;
    // A log line is some 50 characters; one reservation spares most of the
    // regrowth of a large copy.
    text.reserve(first < end ? (end - first) * 64 : 0);
    for (size_t i = first; i < end; ++i) {
        const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, i, 0);
        if (length == LB_ERR)
            continue;
        const size_t at = text.size();
        text.resize(at + static_cast<size_t>(length) + 1);
        const LRESULT got = SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&text[at]));
        const size_t line_length = got > 0 ? static_cast<size_t>(got) : 0;
        text.resize(at + line_length);
        if (line_length < 2 || text.compare(text.size() - 2, 2, L"\r\n") != 0)
            text += L"\r\n";
    }
    GlobalText memory(text);
    if (memory.get() == nullptr)
        return false;
    Clipboard clipboard(owner);
    if (!clipboard.open() || !EmptyClipboard())
        return false;
    if (SetClipboardData(CF_UNICODETEXT, memory.get()) == nullptr)
        return false;
    memory.Release(); // the clipboard owns it now
    return true;
}
