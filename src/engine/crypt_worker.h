// The worker: one thread that does all file work, the run state it shares
// with the front end, and the start, stop and quit requests.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "format/stream_crypt.h"
#include "platform/event.h"

namespace kelto {

inline constexpr int ACTION_NONE = 0;
inline constexpr int ACTION_ENCRYPT = 1;
inline constexpr int ACTION_DECRYPT = 2;

inline constexpr int PHASE_IDLE = 0;
inline constexpr int PHASE_ENCRYPT = 1;
inline constexpr int PHASE_DECRYPT = 2;
inline constexpr int PHASE_COPY = 3;
inline constexpr int PHASE_WIPE = 4;

struct CryptItem {
    std::string path;
    int action = ACTION_NONE;
    int driveType = 0;
    uint64_t size = 0;
    uint64_t extraWork = 0;
};

// Implemented by the front end: the end-of-run notice, delivered on its own
// thread. Called once per run from the worker thread; must not block.
class IRunFinished {
public:
    virtual ~IRunFinished() = default;
    virtual void PostCryptFinished(int result) = 0;
};

class CCryptWorker {
public:
    CCryptWorker();
    ~CCryptWorker();
    CCryptWorker(const CCryptWorker&) = delete;
    CCryptWorker& operator=(const CCryptWorker&) = delete;

    // Thread control.
    void StartThread();
    void JoinThread();
    void SetFinishedNotice(IRunFinished* notice);

    // Front end, main thread.
    int SetPassword(const char* password);
    void StartRun(int runMode);
    void RequestStop();
    void RequestQuit();
    int AddTarget(const CryptItem& item);
    int GetTargetCount() const;
    int PeekSingleTarget(CryptItem& item) const;
    void Reset();
    void GetBytesProgress(uint64_t& done, uint64_t& total) const;
    void GetExtraProgress(uint64_t& done, uint64_t& total) const;
    void GetItemProgress(uint64_t& cipherBytes, uint64_t& extraBytes) const;
    int GetPhase() const { return m_phase; }
    int GetCurrentFile(std::string& out) const;

    // Worker thread: jobs, copy and wipe, the collection.
    void BeginItemProgress();
    void EndItemProgress(uint64_t size, uint64_t extraWork);
    int SetPhase(int phase) { return m_phase.exchange(phase); }
    bool IsStopSignalled();
    bool TakeTarget(CryptItem& item);
    void AppendTarget(const CryptItem& item);
    void AppendWorkItem(const CryptItem& item);
    bool TakeWorkItem(CryptItem& item);
    size_t WorkItemCount() const;

    // One whole run, on the calling thread (the run loop's body).
    int PerformRun();

    std::atomic<uint64_t> m_bytesDone{0};
    std::atomic<uint64_t> m_bytesTotal{0};
    std::atomic<uint64_t> m_extraDone{0};
    std::atomic<uint64_t> m_extraTotal{0};
    std::atomic<uint64_t> m_itemExtra{0};
    std::string m_lastFailure;
    std::string m_password;
    CStreamCrypt m_stream;

private:
    int Run();
    int ProcessWorkList();
    bool TakeFront(std::deque<CryptItem>& list, CryptItem& item);

    CEventGroup m_events;
    CEvent m_evQuit{m_events};
    CEvent m_evStart{m_events};

public:
    CEvent m_evStop{m_events};

private:
    mutable std::mutex m_listLock;
    std::deque<CryptItem> m_targetQueue;
    std::deque<CryptItem> m_workList;
    std::atomic<int> m_phase{PHASE_IDLE};

    // A stop request consumed by a copy or wipe loop still ends the run.
    std::atomic<bool> m_stopSeen{false};
    std::mutex m_noticeLock;
    IRunFinished* m_notice = nullptr;
    std::thread m_thread;
};

// Restores the phase however the scope is left.
class CPhaseScope {
public:
    CPhaseScope(CCryptWorker& worker, int phase) : m_worker(worker), m_saved(worker.SetPhase(phase)) {}
    ~CPhaseScope() { m_worker.SetPhase(m_saved); }
    CPhaseScope(const CPhaseScope&) = delete;
    CPhaseScope& operator=(const CPhaseScope&) = delete;

private:
    CCryptWorker& m_worker;
    int m_saved;
};

}  // namespace kelto
