#include "modulebench/batch_run.h"

#include <cstdio>

#include "modulebench/input_filters.h"

namespace {

constexpr size_t kArmingsKept = 8;
constexpr size_t kRateSamples = 10;

// Plain decimal digits, at most 7 of them (1000000), else false.
bool ParseId(const std::string &text, uint32_t *value)
{
    if (text.empty() || text.size() > 7)
        return false;
    uint32_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    *value = v;
    return true;
}

bool ParseIdInRange(const std::string &text, uint32_t *value)
{
    return ParseId(text, value) && *value >= 1 && *value <= kBatchIdMax;
}

// Seconds with up to three decimals, 0..60, as milliseconds.
bool ParsePause(const std::string &text, uint32_t *ms)
{
    const size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? std::string() : text.substr(dot + 1);
    if (whole.empty() || whole.size() > 2 || fraction.size() > 3 || (dot != std::string::npos && fraction.empty()))
        return false;
    uint32_t seconds = 0;
    for (char c : whole) {
        if (c < '0' || c > '9')
            return false;
        seconds = seconds * 10 + static_cast<uint32_t>(c - '0');
    }
    uint32_t milli = 0;
    for (size_t i = 0; i < 3; ++i) {
        const char c = i < fraction.size() ? fraction[i] : '0';
        if (c < '0' || c > '9')
            return false;
        milli = milli * 10 + static_cast<uint32_t>(c - '0');
    }
    const uint32_t total = seconds * 1000 + milli;
    if (total > kBatchPauseMaxMs)
        return false;
    *ms = total;
    return true;
}

const char *CheckPeriod(NumericField field, const std::string &text, int32_t *value)
{
    const FieldValue checked = CheckNumericField(field, text.data(), text.size());
    if (checked.check == FieldCheck::Empty)
        return NumericFieldEmptyText(field);
    if (checked.check == FieldCheck::OutOfRange)
        return NumericFieldRangeText(field);
    *value = checked.value;
    return nullptr;
}

} // namespace

const char *CheckBatchSettings(const BatchFieldTexts &t, BatchSettings *out)
{
    BatchSettings s;
    if (t.first.empty())
        return "起始ID号不能为空";
    if (!ParseIdInRange(t.first, &s.first))
        return "起始ID号只能是 1 - 1000000";
    if (t.last.empty() && t.count.empty())
        return "结束ID号或数量不能为空";
    if (!t.last.empty() && !t.count.empty())
        return "结束ID号和数量只能填一个";
    if (t.step.empty())
        return "步长不能为空";
    if (!ParseIdInRange(t.step, &s.step))
        return "步长只能是 1 - 1000000";
    if (!t.last.empty()) {
        uint32_t end = 0;
        if (!ParseIdInRange(t.last, &end))
            return "结束ID号只能是 1 - 1000000";
        if (end < s.first)
            return "结束ID号不能小于起始ID号";
        s.last = s.first + (end - s.first) / s.step * s.step;
    } else {
        uint32_t count = 0;
        if (!ParseIdInRange(t.count, &count))
            return "数量只能是 1 - 1000000";
        const uint64_t last = s.first + static_cast<uint64_t>(count - 1) * s.step;
        if (last > kBatchIdMax)
            return "ID号超出 1 - 1000000：请减少数量或步长";
        s.last = static_cast<uint32_t>(last);
    }
    if (const char *why = CheckPeriod(NumericField::SendPeriod, t.send_period, &s.send_period))
        return why;
    if (const char *why = CheckPeriod(NumericField::BatteryPeriod, t.battery_period, &s.battery_period))
        return why;
    s.automatic = t.automatic;
    if (s.automatic && !ParsePause(t.pause, &s.pause_ms))
        return "自动间隔只能是 0 - 60 秒";
    *out = s;
    return nullptr;
}

uint32_t BatchRangeSize(const BatchSettings &s)
{
    if (s.first == 0 || s.step == 0 || s.last < s.first)
        return 0;
    return (s.last - s.first) / s.step + 1;
}

bool BatchRun::InRange(uint32_t id) const
{
    return id >= settings_.first && id <= settings_.last && (id - settings_.first) % settings_.step == 0;
}

uint32_t BatchRun::NextFree(uint32_t from) const
{
    // IDs are given in order, so every ID before from is given already.
    for (uint32_t id = from; id >= settings_.first && id <= settings_.last; id += settings_.step)
        if (given_.count(id) == 0)
            return id;
    return 0;
}

const char *BatchRun::Start(const BatchSettings &settings, const std::set<uint32_t> &given, uint64_t)
{
    if (running())
        return "批量配置正在进行";
    settings_ = settings;
    given_ = given;
    in_range_ = 0;
    for (uint32_t id : given_)
        in_range_ += InRange(id) ? 1 : 0;
    this_run_ = 0;
    configured_at_.clear();
    armings_.clear();
    last_configured_ = 0;
    arm_ = 0;
    current_id_ = NextFree(settings_.first);
    if (current_id_ == 0) {
        state_ = BatchState::Idle;
        return "范围内的ID号都已在日志中配置过";
    }
    ArmCurrent();
    return nullptr;
}

bool BatchRun::ArmCurrent()
{
    arm_ = outside_.arm ? outside_.arm(current_id_, settings_.send_period, settings_.battery_period) : 0;
    if (arm_ == 0) {
        char note[160];
        std::snprintf(note, sizeof note, "批量配置已暂停：ID %u 未能布置（串口未打开或不在电子标签模式）",
                      static_cast<unsigned>(current_id_));
        if (outside_.note)
            outside_.note(note);
        PauseFrom(BatchState::Waiting, false);
        return false;
    }
    armings_.emplace_back(arm_, current_id_);
    if (armings_.size() > kArmingsKept)
        armings_.erase(armings_.begin());
    state_ = BatchState::Waiting;
    return true;
}

void BatchRun::EnterConfigured(uint64_t now_ms)
{
    state_ = BatchState::Configured;
    due_ms_ = now_ms + settings_.pause_ms;
}

void BatchRun::PauseFrom(BatchState from, bool for_port)
{
    paused_from_ = from;
    paused_for_port_ = for_port;
    state_ = BatchState::Paused;
}

void BatchRun::Next()
{
    if (state_ == BatchState::Configured)
        ArmCurrent();
}

void BatchRun::Tick(uint64_t now_ms, bool arm_current)
{
    if (state_ == BatchState::Waiting && !arm_current) {
        if (outside_.note)
            outside_.note("批量配置已暂停：主窗口的标签配置已被更改");
        PauseFrom(BatchState::Waiting, false);
        return;
    }
    if (state_ == BatchState::Configured && settings_.automatic && now_ms >= due_ms_)
        ArmCurrent();
}

bool BatchRun::LookUpArm(uint32_t arm, uint32_t *id) const
{
    if (arm == 0)
        return false;
    for (const auto &made : armings_) {
        if (made.first == arm) {
            *id = made.second;
            return true;
        }
    }
    return false;
}

void BatchRun::ForgetArmsOf(uint32_t id)
{
    std::vector<std::pair<uint32_t, uint32_t>> kept;
    for (const auto &made : armings_)
        if (made.second != id)
            kept.push_back(made);
    armings_.swap(kept);
}

void BatchRun::Answered(uint32_t arm, uint64_t now_ms)
{
    uint32_t id = 0;
    if (!LookUpArm(arm, &id))
        return;
    ForgetArmsOf(id);
    if (given_.count(id) != 0)
        return;
    given_.insert(id);
    ++this_run_;
    in_range_ += InRange(id) ? 1 : 0;
    last_configured_ = id;
    configured_at_.push_back(now_ms);
    if (configured_at_.size() > kRateSamples)
        configured_at_.pop_front();
    const bool written =
        outside_.write_row && outside_.write_row(JournalRow{id, settings_.send_period, settings_.battery_period,
                                                            kJournalConfigured});
    if (id != current_id_)
        return;
    if (!running()) {
        // After 停止: journalled, and the run stays stopped.
        current_id_ = NextFree(id);
        return;
    }
    // The same ID may have been armed again meanwhile (a pause and 继续):
    // that arming must not give it a second time.
    if (arm_ != 0 && arm_ != arm && outside_.disarm)
        outside_.disarm(arm_);
    arm_ = 0;
    current_id_ = NextFree(id);
    if (current_id_ == 0) {
        state_ = BatchState::Done;
        if (outside_.sound)
            outside_.sound(BatchSound::Finished);
        return;
    }
    if (outside_.sound)
        outside_.sound(BatchSound::Configured);
    if (state_ == BatchState::Paused) {
        if (paused_from_ == BatchState::Waiting)
            paused_from_ = BatchState::Configured;
        due_ms_ = now_ms + settings_.pause_ms;
        return;
    }
    EnterConfigured(now_ms);
    // A row that could not be written stops the run until the operator has
    // seen why (the window says so).
    if (!written)
        PauseFrom(BatchState::Configured, false);
}

void BatchRun::NotSent(uint32_t arm, const std::string &reason)
{
    uint32_t id = 0;
    if (!LookUpArm(arm, &id) || given_.count(id) != 0)
        return;
    if (outside_.write_row)
        outside_.write_row(JournalRow{id, settings_.send_period, settings_.battery_period, NotSentResult(reason)});
    if (outside_.sound)
        outside_.sound(BatchSound::NotSent);
    // The tag got nothing: the same ID waits for its next wake-up.
    if (state_ == BatchState::Waiting && arm == arm_ && id == current_id_)
        ArmCurrent();
}

void BatchRun::Pause()
{
    if (state_ != BatchState::Waiting && state_ != BatchState::Configured)
        return;
    if (state_ == BatchState::Waiting && outside_.disarm)
        outside_.disarm(arm_);
    PauseFrom(state_, false);
}

bool BatchRun::Resume(uint64_t now_ms)
{
    if (state_ != BatchState::Paused)
        return false;
    if (paused_from_ == BatchState::Waiting)
        return ArmCurrent();
    EnterConfigured(now_ms);
    return true;
}

void BatchRun::PortClosed()
{
    if (state_ != BatchState::Waiting && state_ != BatchState::Configured)
        return;
    if (outside_.note)
        outside_.note("批量配置已暂停：串口已关闭");
    PauseFrom(state_, true);
}

void BatchRun::PortResumed(uint64_t now_ms)
{
    if (state_ != BatchState::Paused || !paused_for_port_)
        return;
    if (!Resume(now_ms) || state_ != BatchState::Waiting)
        return;
    char note[128];
    std::snprintf(note, sizeof note, "批量配置：串口已恢复，ID %u 重新等待生效", static_cast<unsigned>(current_id_));
    if (outside_.note)
        outside_.note(note);
}

std::string BatchRun::Stop()
{
    if (state_ == BatchState::Waiting || (state_ == BatchState::Paused && paused_from_ == BatchState::Waiting)) {
        if (outside_.disarm)
            outside_.disarm(arm_);
    }
    arm_ = 0;
    const std::string summary = Summary();
    state_ = BatchState::Stopped;
    return summary;
}

double BatchRun::per_minute() const
{
    if (configured_at_.size() < 2)
        return 0;
    const uint64_t span = configured_at_.back() - configured_at_.front();
    if (span == 0)
        return 0;
    return static_cast<double>(configured_at_.size() - 1) * 60000.0 / static_cast<double>(span);
}

std::string BatchRun::Summary() const
{
    char text[160];
    std::snprintf(text, sizeof text, u8"本次已配置 %u 个；范围 %u - %u（步长 %u）已配置 %u / %u",
                  static_cast<unsigned>(this_run_), static_cast<unsigned>(settings_.first),
                  static_cast<unsigned>(settings_.last), static_cast<unsigned>(settings_.step),
                  static_cast<unsigned>(in_range_), static_cast<unsigned>(range_size()));
    return text;
}
