// The machine's own crypto and random routines behind Platform::Crypto: the
// kernel's random source, the time-stamp counter, a xorshift quick generator
// and OpenSSL's SHA-1. Nothing here is simulated: the values are real.
#include "platform/crypto.h"

#include <openssl/evp.h>
#include <sys/random.h>

#include <cerrno>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#else
#include <chrono>
#endif

#include "platform/backend_slot.h"

namespace Platform::Crypto {

namespace {

class MachineCrypto : public Backend {
public:
    bool RandomBytes(void* out, size_t length) override {
        auto* p = static_cast<unsigned char*>(out);
        while (length > 0) {
            ssize_t n = getrandom(p, length, 0);
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            p += n;
            length -= static_cast<size_t>(n);
        }
        return true;
    }
    uint64_t ReadTsc() override {
#if defined(__x86_64__) || defined(__i386__)
        return __rdtsc();
#else
        return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#endif
    }
    bool QuickSeed(uint32_t seed, uint64_t* state) override {
        // xorshift must not start at zero.
        *state = (static_cast<uint64_t>(seed) << 32 | seed) ^ 0x9e3779b97f4a7c15ULL;
        return true;
    }
    uint32_t QuickNext(uint64_t* state) override {
        uint64_t x = *state;
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        *state = x;
        return static_cast<uint32_t>(x >> 32);
    }
    bool Sha1(const void* data, size_t length, uint8_t (&out)[kSha1Length]) override {
        unsigned int n = 0;
        return EVP_Digest(data, length, out, &n, EVP_sha1(), nullptr) == 1 && n == kSha1Length;
    }
};

constinit BackendSlot<Backend, MachineCrypto> gSlot;

}  // namespace

Backend& GetBackend() { return gSlot.Get(); }
Backend* SetBackend(Backend* backend) { return gSlot.Set(backend); }

}  // namespace Platform::Crypto
