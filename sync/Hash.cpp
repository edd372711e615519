#include "sync/Hash.h"
#include <cstring>

namespace {
DWORD LastErrorOr(DWORD fallback) {
    DWORD error = ::GetLastError();
    return error ? error : fallback;
}
}  // namespace

DWORD CHash::Compute(const char* input, int isFile, std::string& hex) {
    hex.clear();
    if (!input) return ERROR_INVALID_PARAMETER;
    if (!m_provider && !::CryptAcquireContextA(m_provider.put(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return LastErrorOr(NTE_FAIL);
    hv::unique_hcrypthash hash;
    if (!::CryptCreateHash(m_provider.get(), CALG_MD5, 0, 0, hash.put())) return LastErrorOr(NTE_FAIL);
    if (isFile) {
        hv::unique_hfile file(::CreateFileA(input, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file) return LastErrorOr(ERROR_FILE_NOT_FOUND);
        BYTE chunk[1024];
        DWORD got = 0;
        for (;;) {
            if (!::ReadFile(file.get(), chunk, sizeof(chunk), &got, nullptr)) return LastErrorOr(ERROR_READ_FAULT);
            if (got == 0) break;
            if (!::CryptHashData(hash.get(), chunk, got, 0)) return LastErrorOr(NTE_FAIL);
        }
    } else {
        const DWORD length = static_cast<DWORD>(strlen(input));
        if (!::CryptHashData(hash.get(), reinterpret_cast<const BYTE*>(input), length, 0)) return LastErrorOr(NTE_FAIL);
    }
    BYTE value[16];
    DWORD size = sizeof(value);
    if (!::CryptGetHashParam(hash.get(), HP_HASHVAL, value, &size, 0)) return LastErrorOr(NTE_FAIL);
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (DWORD i = 0; i < size; ++i) {
        out += digits[value[i] >> 4];
        out += digits[value[i] & 0x0F];
    }
    hex.swap(out);
    return 0;
}
