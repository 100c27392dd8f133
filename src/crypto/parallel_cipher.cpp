#include "crypto/parallel_cipher.h"

#include <algorithm>
#include <chrono>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KELTO_CPU_RELAX() _mm_pause()
#else
#define KELTO_CPU_RELAX() ((void)0)
#endif

namespace kelto {

namespace {

// How long a thread polls before it sleeps: about one 64 KiB part, so that
// back-to-back passes never sleep while a lone pass wastes little.
constexpr auto kSpin = std::chrono::microseconds(200);

template <class Done>
bool SpinFor(Done done) {
    const auto end = std::chrono::steady_clock::now() + kSpin;
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (done()) return true;
            KELTO_CPU_RELAX();
        }
        if (std::chrono::steady_clock::now() >= end) return done();
    }
}

}  // namespace

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
        m_quit.store(true);
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
        m_pending.store(m_parts - 1);
        m_generation.fetch_add(1);
    }
    m_wake.notify_all();
    DoPart(0);
    auto allDone = [this] { return m_pending.load() == 0; };
    SpinFor(allDone);
    std::unique_lock<std::mutex> lk(m_lock);
    m_done.wait(lk, allDone);
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
    auto woken = [&] { return m_quit.load() || m_generation.load() != seen; };
    for (;;) {
        if (!SpinFor(woken)) {
            std::unique_lock<std::mutex> lk(m_lock);
            m_wake.wait(lk, woken);
        }
        if (m_quit.load()) return;
        seen = m_generation.load();
        DoPart(part);
        if (m_pending.fetch_sub(1) == 1) {
            std::lock_guard<std::mutex> lk(m_lock);  // the caller may be between test and sleep
            m_done.notify_one();
        }
    }
}

}  // namespace kelto
