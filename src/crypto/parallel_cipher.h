// Splits a large in-place cipher pass between the calling thread and
// persistent helper threads, on block boundaries.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "crypto/cast_cipher.h"

namespace kelto {

class CParallelCipher {
public:
    // Below this a pass is not worth waking a helper for.
    static constexpr size_t kMinSplitBytes = 64 * 1024;

    // threads counts the caller: 1 (or 0) starts no helper thread.
    explicit CParallelCipher(unsigned threads = 2);
    ~CParallelCipher();
    CParallelCipher(const CParallelCipher&) = delete;
    CParallelCipher& operator=(const CParallelCipher&) = delete;

    // The same bytes as cipher.EncryptBlocks / DecryptBlocks on the buffer.
    // One pass at a time: concurrent callers take turns.
    void Encrypt(const CCastCipher& cipher, uint8_t* data, size_t bytes);
    void Decrypt(const CCastCipher& cipher, uint8_t* data, size_t bytes);

    unsigned Threads() const { return m_parts; }

private:
    void Run(const CCastCipher& cipher, bool decrypt, uint8_t* data, size_t bytes);
    void DoPart(unsigned part) const;
    void HelperLoop(unsigned part);

    std::mutex m_callLock;  // held for a whole pass
    std::mutex m_lock;      // guards the job fields; the atomics change under it too
    std::condition_variable m_wake;
    std::condition_variable m_done;
    // Both sides poll these for a short while before sleeping: a thread that
    // is woken from sleep is often placed on the waker's core and then runs
    // its part after the waker's instead of beside it.
    std::atomic<uint64_t> m_generation{0};
    std::atomic<unsigned> m_pending{0};
    std::atomic<bool> m_quit{false};
    const CCastCipher* m_cipher = nullptr;
    bool m_decrypt = false;
    uint8_t* m_data = nullptr;
    size_t m_blocks = 0;

    unsigned m_parts = 1;
    std::vector<std::thread> m_helpers;
};

}  // namespace kelto
