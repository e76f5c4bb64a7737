// What a main dialog remembers of the port the user opened, so that a port
// that vanishes (a USB adapter pulled out, or kicked off the bus) can be
// noticed once, reported once, and opened again by itself when it returns.
//
// The dialog tells the keeper about every open and close; the receive thread
// reports a loss with the generation of the port it lost, which the dialog
// passes to Lost on the GUI thread. A report about a port the user has
// closed or replaced meanwhile is stale and ignored. After a loss the
// dialog closes the port exactly as the user's close does and tries the same
// name at the same speed about once a second until it opens (Resumed), the
// user closes, or the user picks another port. Only one message box about a
// loss is up at a time: an adapter that flickers while the box is shown
// leaves that one box, not a pile.
//
// GUI thread only. Win32-free: names are the port list's texts ("COM3").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class PortKeeper {
public:
    // The user opened name at baud_index; the link opened it as generation.
    void Opened(const char *name, uint32_t baud_index, uint32_t generation);
    // A retry opened the remembered port again, as generation.
    void Resumed(uint32_t generation);
    // The user closed the port (or the program ends): nothing to retry.
    void Forget();
    // The receive thread lost the port of generation. True when that is the
    // port open now: the caller closes it, and retrying begins.
    bool Lost(uint32_t generation);
    // The user picked name in the port list. A different port ends the
    // retries; true when it did.
    bool Chose(const char *name);

    // Whether a port named by a device change ("com5" is COM5) is the one
    // open now.
    bool IsOpenPort(const std::string &name) const;

    bool IsOpen() const { return state_ == State::Open; }
    bool IsRetrying() const { return state_ == State::Retrying; }
    // The remembered port and speed (valid while open or retrying).
    const std::string &Name() const { return name_; }
    uint32_t BaudIndex() const { return baud_index_; }

    // True when no loss box is up; the caller shows one and calls BoxClosed
    // once it has been dismissed.
    bool TakeBox();
    void BoxClosed();

private:
    enum class State : uint8_t { Closed, Open, Retrying };
    State state_ = State::Closed;
    std::string name_;
    uint32_t baud_index_ = 0;
    uint32_t generation_ = 0;
    bool box_up_ = false;
};

// The port list's entries: "COMn" for each number found, plus keep (the
// port open or being retried) when it is not among them, so that the
// program's own port never drops out of its list.
std::vector<std::string> PortListNames(const uint32_t *numbers, uint32_t count, const std::string &keep);

// Texts the dialogs show (narrow, in the program's code page).
std::string PortLostText(const std::string &name);
std::string PortRefusedText(const std::string &name, uint32_t rate);
std::string PortLostNote(const std::string &name);
std::string PortResumedNote(const std::string &name, uint32_t rate);
