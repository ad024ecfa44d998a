#include "App/archive/KVSha1.h"

#include <new>

#include <openssl/evp.h>

namespace kx {

KVSha1::KVSha1()
    : context_(EVP_MD_CTX_new())
{
    if (!context_ || EVP_DigestInit_ex(context_, EVP_sha1(), nullptr) != 1)
        throw std::bad_alloc();
}

KVSha1::~KVSha1()
{
    EVP_MD_CTX_free(context_);
}

void KVSha1::update(std::span<const std::byte> bytes)
{
    EVP_DigestUpdate(context_, bytes.data(), bytes.size());
}

std::vector<std::uint8_t> KVSha1::finish()
{
    std::vector<std::uint8_t> digest(digestLength);
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_, digest.data(), &length);
    EVP_DigestInit_ex(context_, EVP_sha1(), nullptr);
    digest.resize(length);
    return digest;
}

} // namespace kx
