#include "app/message_log.h"

#include "app/main_app.h"

namespace kelto {

void CMessageLog::SetWake(ILogWake* wake) {
    std::lock_guard<std::mutex> g(m_lock);
    m_wake = wake;
}

void CMessageLog::Add(const std::string& caption, const std::string& text, int kind) {
    ILogWake* wake = nullptr;
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_queue.push_back({caption, text, kind});
        // A larger queue already has a wake-up on its way.
        if (m_queue.size() == 1) wake = m_wake;
    }
    if (wake) wake->PostLogQueued();
}

void CMessageLog::Drain(ILogView& view) {
    for (;;) {
        LogQueueItem item;
        {
            std::lock_guard<std::mutex> g(m_lock);
            if (m_queue.empty()) return;
            item = std::move(m_queue.front());
            m_queue.pop_front();
        }
        // Outside the lock, so that the view may log too.
        view.AddEntry(item.text, item.caption, item.kind);
    }
}

void CMessageLog::Clear() {
    std::lock_guard<std::mutex> g(m_lock);
    m_queue.clear();
}

size_t CMessageLog::Count() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_queue.size();
}

void LogInfo(const std::string& caption, const std::string& text) {
    theApp().m_log.Add(caption, text, LOG_KIND_INFO);
}

void LogProblem(const std::string& caption, const std::string& text) {
    theApp().m_log.Add(caption, text, LOG_KIND_PROBLEM);
}

}  // namespace kelto
