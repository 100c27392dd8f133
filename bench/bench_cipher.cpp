// Cipher throughput over the engine's 1 MiB chunk, against OpenSSL's
// CAST5-ECB on the same buffer as the yardstick.
#include <benchmark/benchmark.h>

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdint>
#include <vector>

#include "crypto/cast_cipher.h"
#include "crypto/parallel_cipher.h"

namespace {

constexpr size_t kChunk = 1024 * 1024;
const char kPassword[] = "benchmark pw 16b";

std::vector<uint8_t> MakeBuffer() {
    std::vector<uint8_t> v(kChunk);
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(i * 131 + 7);
    return v;
}

void BM_CastEncryptBlocks(benchmark::State& state) {
    kelto::CCastCipher c;
    c.SetKey(kPassword);
    auto buf = MakeBuffer();
    for (auto _ : state) {
        c.EncryptBlocks(buf.data(), buf.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk);
}
BENCHMARK(BM_CastEncryptBlocks);

void BM_CastDecryptBlocks(benchmark::State& state) {
    kelto::CCastCipher c;
    c.SetKey(kPassword);
    auto buf = MakeBuffer();
    for (auto _ : state) {
        c.DecryptBlocks(buf.data(), buf.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk);
}
BENCHMARK(BM_CastDecryptBlocks);

void BM_CastParallelEncrypt(benchmark::State& state) {
    kelto::CCastCipher c;
    c.SetKey(kPassword);
    kelto::CParallelCipher pc(static_cast<unsigned>(state.range(0)));
    auto buf = MakeBuffer();
    for (auto _ : state) {
        pc.Encrypt(c, buf.data(), buf.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk);
}
BENCHMARK(BM_CastParallelEncrypt)->Arg(2)->UseRealTime();

void BM_OpenSslCast5Ecb(benchmark::State& state) {
    OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER* deflt = OSSL_PROVIDER_load(nullptr, "default");
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "CAST5-ECB", nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    const unsigned char key[16] = {'b', 'e', 'n', 'c', 'h', 'm', 'a', 'r',
                                   'k', ' ', 'p', 'w', ' ', '1', '6', 'b'};
    if (!legacy || !cipher || !ctx || EVP_CIPHER_get_key_length(cipher) != 16 ||
        EVP_EncryptInit_ex(ctx, cipher, nullptr, key, nullptr) != 1) {
        state.SkipWithError("OpenSSL CAST5-ECB unavailable");
    } else {
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        auto buf = MakeBuffer();
        std::vector<uint8_t> out(kChunk);
        for (auto _ : state) {
            int len = 0;
            EVP_EncryptUpdate(ctx, out.data(), &len, buf.data(), static_cast<int>(buf.size()));
            benchmark::DoNotOptimize(len);
            benchmark::ClobberMemory();
        }
        state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk);
    }
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    if (deflt) OSSL_PROVIDER_unload(deflt);
    if (legacy) OSSL_PROVIDER_unload(legacy);
}
BENCHMARK(BM_OpenSslCast5Ecb);

}  // namespace
