#include "serial/port_keeper.h"

#include "serial/port_names.h"

#include <algorithm>

void PortKeeper::Opened(const char *name, uint32_t baud_index, uint32_t generation)
{
    state_ = State::Open;
    name_ = CanonicalPortName(name != nullptr ? name : "");
    baud_index_ = baud_index;
    generation_ = generation;
}

void PortKeeper::Resumed(uint32_t generation)
{
    if (state_ != State::Retrying)
        return;
    state_ = State::Open;
    generation_ = generation;
}

void PortKeeper::Forget()
{
    state_ = State::Closed;
}

bool PortKeeper::Lost(uint32_t generation)
{
    if (state_ != State::Open || generation != generation_)
        return false;
    state_ = State::Retrying;
    return true;
}

bool PortKeeper::Chose(const char *name)
{
    if (state_ != State::Retrying || name == nullptr || SamePortName(name_, PortOfEntry(name)))
        return false;
    state_ = State::Closed;
    return true;
}

bool PortKeeper::IsOpenPort(const std::string &name) const
{
    return state_ == State::Open && SamePortName(name_, name);
}

bool PortKeeper::TakeBox()
{
    if (box_up_)
        return false;
    box_up_ = true;
    return true;
}

void PortKeeper::BoxClosed()
{
    box_up_ = false;
}

std::vector<std::string> PortListNames(const uint32_t *numbers, uint32_t count, const std::string &keep)
{
    std::vector<std::string> names;
    for (uint32_t i = 0; i < count; ++i)
        names.push_back("COM" + std::to_string(numbers[i]));
    if (keep.empty())
        return names;
    const bool listed =
        std::any_of(names.begin(), names.end(), [&](const std::string &name) { return SamePortName(name, keep); });
    if (!listed)
        names.push_back(CanonicalPortName(keep));
    return names;
}

std::string PortLostText(const std::string &name)
{
    return "串口 " + name + " 已断开（设备被拔出或不再应答）。\r\n程序每秒尝试重新打开它一次，"
                            "按\"打开串口\"或选择其他串口可停止尝试。";
}

std::string PortRefusedText(const std::string &name, uint32_t rate)
{
    return "串口 " + name + " 不接受波特率 " + std::to_string(rate) + "，已关闭。";
}

std::string PortLostNote(const std::string &name)
{
    return "串口 " + name + " 已断开，每秒尝试重新打开";
}

std::string PortResumedNote(const std::string &name, uint32_t rate)
{
    return "串口 " + name + " 已重新打开（" + std::to_string(rate) + "）";
}
