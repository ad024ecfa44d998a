// SHA-1 fed in pieces, through OpenSSL (hardware SHA extensions where the processor has them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct evp_md_ctx_st;

namespace kx {

class KVSha1 {
public:
    static constexpr std::size_t digestLength = 20;

    KVSha1();
    ~KVSha1();
    KVSha1(const KVSha1&) = delete;
    KVSha1& operator=(const KVSha1&) = delete;

    void update(std::span<const std::byte> bytes);
    // The digest of everything fed so far; the object starts over afterwards.
    std::vector<std::uint8_t> finish();

private:
    evp_md_ctx_st* context_;
};

} // namespace kx
