// The batch configuration of tags: a range of IDs given one after another,
// each to the next tag that wakes, none twice.
//
// The window (win32/batch_window_win32.h) owns one BatchRun and feeds it the
// operator's buttons, its timers and what the chunk processor reports; the
// run decides and acts through BatchOutside: it arms and disarms through the
// main dialog's own 修改 path, writes journal rows, sounds, and notes in the
// log. Everything here runs on the GUI thread; times are a monotonic clock
// in milliseconds.
//
// States, and the window's state line:
//   Idle, Stopped         before 开始 / after 停止
//   Waiting               an ID is armed: 等待标签唤醒
//   Configured            the last ID went out: 已配置 ID n，请换下一个标签.
//                         手动 arms the next ID on 下一个; 自动 when its
//                         pause is over (下一个 cuts it short). Nothing is
//                         armed meanwhile, so a configured tag that wakes
//                         again, and any wake-up in the pause, is only logged.
//   Paused                暂停 (the operator, a closed or lost port, a main
//                         dialog whose configuration was changed by hand);
//                         继续 returns to the state it left, re-arming the
//                         same ID
//   Done                  every ID of the range is configured: 已完成
//
// No ID twice. An ID counts as given once an answer carrying it went out,
// whatever the run's state by then: an answer already on its way when the
// operator pauses or the port closes is journalled and the ID is not armed
// again. The IDs of the journal the run continues are given already. A frame
// that did not go out gives a row with its reason and the same ID is armed
// again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "modulebench/batch_journal.h"

constexpr uint32_t kBatchIdMax = 1000000;
constexpr uint32_t kBatchPauseMaxMs = 60000;
constexpr uint32_t kBatchDefaultPauseMs = 3000;

// The window's fields as typed (build code page; digits only are valid).
struct BatchFieldTexts {
    std::string first;
    std::string last;  // 结束ID号, or
    std::string count; // 数量: exactly one of the two
    std::string step;
    std::string send_period;
    std::string battery_period;
    std::string pause; // seconds, up to three decimals; read in 自动 only
    bool automatic = false;
};

struct BatchSettings {
    uint32_t first = 0;
    uint32_t last = 0; // the range's last ID: first + k * step
    uint32_t step = 1;
    int32_t send_period = 0;
    int32_t battery_period = 0;
    bool automatic = false;
    uint32_t pause_ms = kBatchDefaultPauseMs;
};

// Null when the fields give a run, else why not (build code page; shown in
// a box by the window). The periods give 修改's own messages.
const char *CheckBatchSettings(const BatchFieldTexts &texts, BatchSettings *out);

// IDs of the range.
uint32_t BatchRangeSize(const BatchSettings &settings);

enum class BatchState : uint8_t { Idle, Waiting, Configured, Paused, Done, Stopped };
enum class BatchSound : uint8_t { Configured, NotSent, Finished };

struct BatchOutside {
    // Arms a configuration through 修改's path; the arming's number, 0 when
    // the main dialog cannot arm (no port, not in tag mode).
    std::function<uint32_t(uint32_t id, int32_t send_period, int32_t battery_period)> arm;
    // Disarms the arming, if it is still the main dialog's current one.
    std::function<void(uint32_t arm)> disarm;
    // Appends a row to the journal; false when it could not be written.
    std::function<bool(const JournalRow &row)> write_row;
    std::function<void(BatchSound sound)> sound;
    // A line of Pellfray's log (build code page).
    std::function<void(const char *text)> note;
};

class BatchRun {
public:
    explicit BatchRun(BatchOutside outside) : outside_(std::move(outside)) {}

    // 开始: the IDs given already come from the journal. Null when the run
    // started (the first free ID armed, or paused when it could not be),
    // else why not.
    const char *Start(const BatchSettings &settings, const std::set<uint32_t> &given, uint64_t now_ms);
    // 下一个 (also Enter and Space): arms the next ID when one is due.
    void Next();
    // The window's timer: the end of 自动's pause; and a main dialog whose
    // configuration changed by hand (arm_current: the run's arming is still
    // the dialog's current one) pauses the run.
    void Tick(uint64_t now_ms, bool arm_current);
    // The processor answered a wake-up with the frame armed as arm; it went
    // out. Answers to armings not made by the run are not looked at.
    void Answered(uint32_t arm, uint64_t now_ms);
    // The frame armed as arm did not go out (reason: UTF-8).
    void NotSent(uint32_t arm, const std::string &reason);
    // 暂停 / 继续. Resume is false when the ID could not be armed.
    void Pause();
    bool Resume(uint64_t now_ms);
    // The main dialog's port closed (the operator, or a loss); and opened
    // again by itself after a loss: a run paused by the close carries on.
    void PortClosed();
    void PortResumed(uint64_t now_ms);
    // 停止: disarms; the summary for the journal's stop line (UTF-8).
    std::string Stop();

    BatchState state() const { return state_; }
    bool running() const { return state_ == BatchState::Waiting || state_ == BatchState::Configured || state_ == BatchState::Paused; }
    // The state Paused will return to.
    BatchState paused_from() const { return paused_from_; }
    const BatchSettings &settings() const { return settings_; }
    // The ID armed (Waiting) or to be armed next; 0 when none is left.
    uint32_t current_id() const { return current_id_; }
    uint32_t last_configured_id() const { return last_configured_; }
    uint32_t arm() const { return arm_; }
    uint32_t configured_in_range() const { return in_range_; }
    uint32_t range_size() const { return BatchRangeSize(settings_); }
    uint32_t configured_this_run() const { return this_run_; }
    // 自动: when the pause ends (Configured only).
    uint64_t pause_due_ms() const { return due_ms_; }
    // Tags a minute over the newest ten configurations; 0 before two.
    double per_minute() const;
    // The summary the stop line and the window show (UTF-8).
    std::string Summary() const;

private:
    bool InRange(uint32_t id) const;
    uint32_t NextFree(uint32_t from) const;
    bool ArmCurrent();
    void EnterConfigured(uint64_t now_ms);
    void PauseFrom(BatchState from, bool for_port);
    bool LookUpArm(uint32_t arm, uint32_t *id) const;
    void ForgetArmsOf(uint32_t id);

    BatchOutside outside_;
    BatchSettings settings_;
    BatchState state_ = BatchState::Idle;
    BatchState paused_from_ = BatchState::Idle;
    bool paused_for_port_ = false;
    std::set<uint32_t> given_;
    uint32_t current_id_ = 0;
    uint32_t last_configured_ = 0;
    uint32_t arm_ = 0;
    uint32_t in_range_ = 0;
    uint32_t this_run_ = 0;
    uint64_t due_ms_ = 0;
    // Armings made and not yet answered (an answer may be on its way after
    // a pause or re-arm); the newest few.
    std::vector<std::pair<uint32_t, uint32_t>> armings_; // arm, ID
    std::deque<uint64_t> configured_at_;                 // the newest ten
};
