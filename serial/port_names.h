// COM port names as the dialogs list, keep, compare and open them, apart
// from Windows.
//
// Windows reads device names without regard to case, so "com5" typed into a
// list is COM5: names are compared that way, and what is opened, kept and
// shown is the canonical "COMn". The port list's refills read the ports the
// drivers registered (the SERIALCOMM device map, whose values' data are the
// names, "COM3") rather than opening every number: an open can reset a board
// wired to DTR, get in another program's way and take seconds on a
// Bluetooth port. The registry holds what the drivers wrote, so its data are
// read with care: junk, other case, duplicates and numbers beyond the
// program's range are dropped or folded, and the rest come in ascending
// order, as the start-up probe lists them.
//
// A port that the user chose and that is no longer registered stays in
// Tarnwick's list marked absent ("COM7（不存在）"), so that a refill never
// silently moves the choice to another device; the mark is not part of the
// name opened.
//
// Win32-free; the texts are narrow, in the programs' code page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// n when text is "COMn" in any case, n from 1 to limit, without leading
// zeros or anything around it; 0 otherwise.
uint32_t ComPortNumberOf(const std::string &text, uint32_t limit);

// "COMn" for a COM port name in any case ("com5" -> "COM5"); any other text
// unchanged.
std::string CanonicalPortName(const std::string &text);

// Whether a and b name the same port (case apart).
bool SamePortName(const std::string &a, const std::string &b);

// The port numbers among the registered names, unique, ascending, 1..limit.
std::vector<uint32_t> RegisteredPortNumbers(const std::vector<std::string> &registered, uint32_t limit);

// The list entry of a chosen port that is not registered, and back: the
// port an entry names (the mark dropped, the name made canonical).
std::string AbsentPortEntry(const std::string &name);
std::string PortOfEntry(const std::string &entry);

// Why a listed port did not open, from CreateFile's error.
enum class PortOpenFailure : uint8_t { Missing, Busy, Other };
PortOpenFailure PortOpenFailureOf(uint32_t error);
// What the port button's box says: "串口 COM7 不存在", "串口 COM7 被其他程序占用",
// "串口 COM7 无法打开（错误 n）"; with no name at all, "未选择串口".
std::string PortOpenFailureText(const std::string &name, uint32_t error);
