#include "crypto/parallel_cipher.h"

#include <algorithm>

namespace kelto {

CParallelCipher::CParallelCipher(unsigned threads) {
    const unsigned wanted = std::max(threads, 1u) - 1;
    m_helpers.reserve(wanted);
    for (unsigned i = 0; i < wanted; ++i) {
        try {
            m_helpers.emplace_back(&CParallelCipher::HelperLoop, this, i + 1);
        } catch (...) {
            break;  // fewer helpers; the passes still come out the same
        }
    }
    m_parts = static_cast<unsigned>(m_helpers.size()) + 1;
}

CParallelCipher::~CParallelCipher() {
    {
        std::lock_guard<std::mutex> lk(m_lock);
        m_quit = true;
    }
    m_wake.notify_all();
    for (auto& t : m_helpers) t.join();
}

void CParallelCipher::Encrypt(const CCastCipher& cipher, uint8_t* data, size_t bytes) {
    Run(cipher, false, data, bytes);
}

void CParallelCipher::Decrypt(const CCastCipher& cipher, uint8_t* data, size_t bytes) {
    Run(cipher, true, data, bytes);
}

void CParallelCipher::Run(const CCastCipher& cipher, bool decrypt, uint8_t* data, size_t bytes) {
    if (m_parts == 1 || bytes < kMinSplitBytes) {
        if (decrypt)
            cipher.DecryptBlocks(data, bytes);
        else
            cipher.EncryptBlocks(data, bytes);
        return;
    }
    std::lock_guard<std::mutex> call(m_callLock);
    {
        std::lock_guard<std::mutex> lk(m_lock);
        m_cipher = &cipher;
        m_decrypt = decrypt;
        m_data = data;
        m_blocks = bytes / 8;
        m_pending = m_parts - 1;
        ++m_generation;
    }
    m_wake.notify_all();
    DoPart(0);
    std::unique_lock<std::mutex> lk(m_lock);
    m_done.wait(lk, [this] { return m_pending == 0; });
    m_cipher = nullptr;
    m_data = nullptr;
}

// Only reads the job fields, which stay fixed while any part is running.
void CParallelCipher::DoPart(unsigned part) const {
    const size_t share = m_blocks / m_parts;
    const size_t extra = m_blocks % m_parts;
    const size_t begin = share * part + std::min<size_t>(part, extra);
    const size_t count = share + (part < extra ? 1 : 0);
    uint8_t* p = m_data + 8 * begin;
    if (m_decrypt)
        m_cipher->DecryptBlocks(p, 8 * count);
    else
        m_cipher->EncryptBlocks(p, 8 * count);
}

void CParallelCipher::HelperLoop(unsigned part) {
    uint64_t seen = 0;
    std::unique_lock<std::mutex> lk(m_lock);
    for (;;) {
        m_wake.wait(lk, [&] { return m_quit || m_generation != seen; });
        if (m_quit) return;
        seen = m_generation;
        lk.unlock();
        DoPart(part);
        lk.lock();
        if (--m_pending == 0) m_done.notify_one();
    }
}

}  // namespace kelto
