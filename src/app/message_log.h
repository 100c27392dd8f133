// The message log: any thread adds lines; the UI thread drains them into its
// log view after a wake-up that is posted only when the queue stops being empty.
#pragma once

#include <deque>
#include <mutex>
#include <string>

namespace kelto {

inline constexpr int LOG_KIND_PROBLEM = 1;
inline constexpr int LOG_KIND_INFO = 2;

struct LogQueueItem {
    std::string caption;
    std::string text;
    int kind = LOG_KIND_INFO;
};

// Implemented by the front end: wakes its UI thread (never blocks).
class ILogWake {
public:
    virtual ~ILogWake() = default;
    virtual void PostLogQueued() = 0;
};

// Implemented by the front end: receives drained lines.
class ILogView {
public:
    virtual ~ILogView() = default;
    virtual void AddEntry(const std::string& text, const std::string& detail, int kind) = 0;
};

class CMessageLog {
public:
    void SetWake(ILogWake* wake);
    void Add(const std::string& caption, const std::string& text, int kind);
    // Moves every queued line, oldest first, into `view`.
    void Drain(ILogView& view);
    void Clear();
    size_t Count() const;

private:
    mutable std::mutex m_lock;
    std::deque<LogQueueItem> m_queue;
    ILogWake* m_wake = nullptr;
};

// Add to the application's log (any thread).
void LogInfo(const std::string& caption, const std::string& text);
void LogProblem(const std::string& caption, const std::string& text);

}  // namespace kelto
