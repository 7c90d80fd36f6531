// Hex digests computed by the tests themselves, independently of the code under test.
#pragma once

#include <openssl/evp.h>

#include <string>

namespace harness {

inline std::string DigestHex(const std::string& data, const EVP_MD* type)
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    EVP_Digest(data.data(), data.size(), md, &n, type, nullptr);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned i = 0; i < n; i++) hex += digits[md[i] >> 4], hex += digits[md[i] & 15];
    return hex;
}

inline std::string Md5Hex(const std::string& data)
{
    return DigestHex(data, EVP_md5());
}

inline std::string Sha256Hex(const std::string& data)
{
    return DigestHex(data, EVP_sha256());
}

}  // namespace harness
