#include "engine/crypt_worker.h"

#include "app/main_app.h"
#include "app/message_log.h"
#include "app/text_table.h"
#include "engine/collect.h"
#include "engine/copy_wipe.h"
#include "jobs/jobs.h"

namespace kelto {
namespace {

struct InternalFailure {
    int value;
};

}  // namespace

CCryptWorker::CCryptWorker() = default;

CCryptWorker::~CCryptWorker() {
    if (m_thread.joinable()) {
        RequestQuit();
        m_thread.join();
    }
}

void CCryptWorker::StartThread() {
    if (!m_thread.joinable()) m_thread = std::thread([this] { Run(); });
}

void CCryptWorker::JoinThread() {
    if (m_thread.joinable()) m_thread.join();
}

void CCryptWorker::SetFinishedNotice(IRunFinished* notice) {
    std::lock_guard<std::mutex> g(m_noticeLock);
    m_notice = notice;
}

int CCryptWorker::SetPassword(const char* password) {
    m_password = password ? password : "";
    return 1;
}

void CCryptWorker::StartRun(int runMode) {
    // Called only while idle: a stop still pending belongs to no run, and
    // the wait would see the start first and hand the stop to this run.
    m_evStop.TryConsume();
    m_stream.m_stopFlag = 0;
    theApp().RunMode = runMode;
    m_evStart.Set();
}

void CCryptWorker::RequestStop() {
    m_stream.m_stopFlag = 1;
    m_evStop.Set();
}

void CCryptWorker::RequestQuit() {
    m_stream.m_stopFlag = 1;
    m_evQuit.Set();
}

int CCryptWorker::AddTarget(const CryptItem& item) {
    AppendTarget(item);
    return 1;
}

int CCryptWorker::GetTargetCount() const {
    std::lock_guard<std::mutex> g(m_listLock);
    return static_cast<int>(m_targetQueue.size());
}

int CCryptWorker::PeekSingleTarget(CryptItem& item) const {
    std::lock_guard<std::mutex> g(m_listLock);
    if (m_targetQueue.size() != 1) return 0;
    item = m_targetQueue.front();
    return 1;
}

void CCryptWorker::Reset() {
    {
        std::lock_guard<std::mutex> g(m_listLock);
        m_targetQueue.clear();
        m_workList.clear();
    }
    m_lastFailure.clear();
    m_phase = PHASE_IDLE;
}

void CCryptWorker::GetBytesProgress(uint64_t& done, uint64_t& total) const {
    done = m_bytesDone;
    total = m_bytesTotal;
}

void CCryptWorker::GetExtraProgress(uint64_t& done, uint64_t& total) const {
    done = m_extraDone;
    total = m_extraTotal;
}

void CCryptWorker::GetItemProgress(uint64_t& cipherBytes, uint64_t& extraBytes) const {
    cipherBytes = m_stream.m_itemBytes;
    extraBytes = m_itemExtra;
}

int CCryptWorker::GetCurrentFile(std::string& out) const {
    std::string current = m_stream.GetCurrentFile();
    if (current.empty()) return 0;
    out = std::move(current);
    return 1;
}

void CCryptWorker::BeginItemProgress() {
    m_stream.m_itemBytes = 0;
    m_itemExtra = 0;
}

void CCryptWorker::EndItemProgress(uint64_t size, uint64_t extraWork) {
    m_stream.m_itemBytes = 0;
    m_itemExtra = 0;
    m_bytesDone += size;
    m_extraDone += extraWork;
}

bool CCryptWorker::IsStopSignalled() {
    if (m_evStop.TryConsume()) m_stopSeen = true;
    return m_stopSeen;
}

bool CCryptWorker::TakeFront(std::deque<CryptItem>& list, CryptItem& item) {
    std::lock_guard<std::mutex> g(m_listLock);
    if (list.empty()) return false;
    item = std::move(list.front());
    list.pop_front();
    return true;
}

bool CCryptWorker::TakeTarget(CryptItem& item) { return TakeFront(m_targetQueue, item); }

void CCryptWorker::AppendTarget(const CryptItem& item) {
    std::lock_guard<std::mutex> g(m_listLock);
    m_targetQueue.push_back(item);
}

void CCryptWorker::AppendWorkItem(const CryptItem& item) {
    std::lock_guard<std::mutex> g(m_listLock);
    m_workList.push_back(item);
}

bool CCryptWorker::TakeWorkItem(CryptItem& item) { return TakeFront(m_workList, item); }

size_t CCryptWorker::WorkItemCount() const {
    std::lock_guard<std::mutex> g(m_listLock);
    return m_workList.size();
}

int CCryptWorker::Run() {
    for (;;) {
        switch (m_events.WaitAny({&m_evQuit, &m_evStart, &m_evStop})) {
            case 0: return 0;
            case 1: {
                const int result = PerformRun();
                std::lock_guard<std::mutex> g(m_noticeLock);
                if (m_notice) m_notice->PostCryptFinished(result);
                break;
            }
            default: break;  // a stop while idle: consumed
        }
    }
}

int CCryptWorker::PerformRun() {
    LogInfo("", GetText("message_cryption_started"));
    LogInfo("", GetText("message_problem_analysis"));
    {
        std::lock_guard<std::mutex> g(m_listLock);
        m_workList.clear();
    }
    m_bytesDone = m_bytesTotal = m_extraDone = m_extraTotal = 0;
    m_stopSeen = false;
    CollectWorkItems(*this);
    const int result = ProcessWorkList();
    {
        std::lock_guard<std::mutex> g(m_listLock);
        m_targetQueue.clear();
    }
    LogInfo("", GetText("message_cryption_finished"));
    return result;
}

int CCryptWorker::ProcessWorkList() {
    m_stream.SetKey(m_password.c_str());
    int result = 1;
    try {
        while (WorkItemCount() > 0) {
            g_pollCount = 0;
            // A stop request ends the run wherever it was first seen.
            if (IsStopSignalled()) {
                result = 0;
                break;
            }
            CryptItem item;
            if (!TakeWorkItem(item)) throw InternalFailure{0};
            int jobResult;
            switch (item.action) {
                case ACTION_ENCRYPT: jobResult = EncryptFileJob(*this, item); break;
                case ACTION_DECRYPT: jobResult = DecryptFileJob(*this, item); break;
                default: jobResult = 0; break;
            }
            if (jobResult == 0) result = 0;
        }
    } catch (const CRunAbort&) {
        LogProblem("", "内部エラー");
        result = 0;  // a run broken off never reports success
    } catch (const InternalFailure&) {
        LogProblem("", "内部エラー");
        result = 0;
    }
    return result;
}

}  // namespace kelto
