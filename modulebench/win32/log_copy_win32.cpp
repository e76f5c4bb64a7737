#include "modulebench/win32/log_copy_win32.h"

#include <vector>

namespace {

// Owns a global memory block until the clipboard takes it.
class GlobalText {
public:
    explicit GlobalText(size_t chars) : memory_(GlobalAlloc(GMEM_MOVEABLE, (chars + 1) * sizeof(wchar_t))) {}
    ~GlobalText()
    {
        if (memory_ != nullptr)
            GlobalFree(memory_);
    }
    GlobalText(const GlobalText &) = delete;
    GlobalText &operator=(const GlobalText &) = delete;

    HGLOBAL get() const { return memory_; }
    void Release() { memory_ = nullptr; }

private:
    HGLOBAL memory_;
};

// The lock of a global memory block, for as long as it is written.
class GlobalLockGuard {
public:
    explicit GlobalLockGuard(HGLOBAL memory)
        : memory_(memory), at_(memory != nullptr ? static_cast<wchar_t *>(GlobalLock(memory)) : nullptr)
    {
    }
    ~GlobalLockGuard()
    {
        if (at_ != nullptr)
            GlobalUnlock(memory_);
    }
    GlobalLockGuard(const GlobalLockGuard &) = delete;
    GlobalLockGuard &operator=(const GlobalLockGuard &) = delete;
    wchar_t *at() const { return at_; }

private:
    HGLOBAL memory_;
    wchar_t *at_;
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

// Lines [first, end) written one after another at out, each ending in
// CR LF; lengths[i - first] is line i's length. Returns the characters
// written.
size_t WriteLines(HWND list, size_t first, size_t end, const std::vector<size_t> &lengths, wchar_t *out)
{
    size_t at = 0;
    for (size_t i = first; i < end; ++i) {
        // The list box writes the line and its NUL: room for both is there,
        // since every line has its CR LF counted in.
        const LRESULT got = SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(out + at));
        const size_t length = got > 0 && static_cast<size_t>(got) <= lengths[i - first] ? static_cast<size_t>(got) : 0;
        at += length;
        if (length < 2 || out[at - 2] != L'\r' || out[at - 1] != L'\n') {
            out[at++] = L'\r';
            out[at++] = L'\n';
        }
    }
    out[at] = L'\0';
    return at;
}

} // namespace

bool CopyListLines(HWND owner, HWND list, size_t first, size_t end)
{
    const size_t count = Count(list);
    if (end > count)
        end = count;
    if (first > end)
        first = end;
    // First the lengths, so that the lines go straight into the block the
    // clipboard takes, with no second copy of a few megabytes.
    std::vector<size_t> lengths(end - first);
    size_t chars = 0;
    for (size_t i = first; i < end; ++i) {
        const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, i, 0);
        lengths[i - first] = length > 0 ? static_cast<size_t>(length) : 0;
        chars += lengths[i - first] + 2; // its CR LF, if it has none
    }
    GlobalText memory(chars);
    {
        GlobalLockGuard lock(memory.get());
        if (lock.at() == nullptr)
            return false;
        WriteLines(list, first, end, lengths, lock.at());
    }
    Clipboard clipboard(owner);
    if (!clipboard.open() || !EmptyClipboard())
        return false;
    if (SetClipboardData(CF_UNICODETEXT, memory.get()) == nullptr)
        return false;
    memory.Release(); // the clipboard owns it now
    return true;
}
