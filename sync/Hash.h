#pragma once
// MD5 digest (CryptoAPI) of a text or of a file, as 32 lower-case hexadecimal digits.
#include <windows.h>
#include <wincrypt.h>
#include <string>
#include "win/UniqueAny.h"

namespace hv {
namespace details {
struct release_hcryptprov {
    void operator()(HCRYPTPROV h) const noexcept { ::CryptReleaseContext(h, 0); }
};
struct destroy_hcrypthash {
    void operator()(HCRYPTHASH h) const noexcept { ::CryptDestroyHash(h); }
};
}  // namespace details
using unique_hcryptprov = unique_any<HCRYPTPROV, details::release_hcryptprov>;
using unique_hcrypthash = unique_any<HCRYPTHASH, details::destroy_hcrypthash>;
}  // namespace hv

class CHash {
public:
    // With isFile 0 the bytes of the zero-terminated `input` are digested, otherwise the
    // contents of the file it names. 0, or the GetLastError code of the failing step (`hex`
    // then stays empty).
    // The cryptographic provider is acquired on first use and kept: acquiring one costs far
    // more than digesting a short text, and a run digests every row.
    DWORD Compute(const char* input, int isFile, std::string& hex);

private:
    hv::unique_hcryptprov m_provider;
};
