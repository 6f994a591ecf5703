// The host's crypto and random routines: the cryptographic random source, the
// quick (non-cryptographic) generator and its time-stamp-counter seed, and the
// SHA-1 digest. The default backend is the machine's own (getrandom, rdtsc,
// OpenSSL's libcrypto); tests put theirs in place to choose the bytes.
// Implementations are safe for concurrent use.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Platform::Crypto {

inline constexpr size_t kSha1Length = 20;

class Backend {
public:
    virtual ~Backend() = default;
    // Fills `length` bytes from the cryptographic random source; false when
    // the source cannot give them (the buffer's contents are then unspecified).
    virtual bool RandomBytes(void* out, size_t length) = 0;
    // The processor's time-stamp counter.
    virtual uint64_t ReadTsc() = 0;
    // Seeds a quick generator into `state`; false when seeding fails.
    virtual bool QuickSeed(uint32_t seed, uint64_t* state) = 0;
    // The next 32-bit value of the quick generator `state`.
    virtual uint32_t QuickNext(uint64_t* state) = 0;
    // SHA-1 of `length` bytes; false when the digest cannot be computed.
    virtual bool Sha1(const void* data, size_t length, uint8_t (&out)[kSha1Length]) = 0;
};

// The process-wide backend: the one set by SetBackend, else the machine's own.
Backend& GetBackend();
// Replaces the backend (tests wrap it to choose bytes or inject failures);
// returns the previous one; null goes back to the default.
Backend* SetBackend(Backend* backend);

}  // namespace Platform::Crypto
