// Auto-reset events and a wait for any of several in priority order.
#pragma once

#include <condition_variable>
#include <initializer_list>
#include <mutex>

namespace kelto {

class CEventGroup;

class CEvent {
public:
    explicit CEvent(CEventGroup& group) : m_group(group) {}
    void Set();
    // Tests without waiting; a signalled event is reset by the test.
    bool TryConsume();

private:
    friend class CEventGroup;
    CEventGroup& m_group;
    bool m_signalled = false;
};

// Events that one thread waits on together share a group (one lock).
class CEventGroup {
public:
    // Waits until one of `events` is signalled; resets and returns the index
    // of the first signalled one in the order given.
    int WaitAny(std::initializer_list<CEvent*> events);

private:
    friend class CEvent;
    std::mutex m_lock;
    std::condition_variable m_changed;
};

inline void CEvent::Set() {
    {
        std::lock_guard<std::mutex> g(m_group.m_lock);
        m_signalled = true;
    }
    m_group.m_changed.notify_all();
}

inline bool CEvent::TryConsume() {
    std::lock_guard<std::mutex> g(m_group.m_lock);
    const bool was = m_signalled;
    m_signalled = false;
    return was;
}

inline int CEventGroup::WaitAny(std::initializer_list<CEvent*> events) {
    std::unique_lock<std::mutex> g(m_lock);
    for (;;) {
        int index = 0;
        for (CEvent* e : events) {
            if (e->m_signalled) {
                e->m_signalled = false;
                return index;
            }
            ++index;
        }
        m_changed.wait(g);
    }
}

}  // namespace kelto
