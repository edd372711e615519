#include "common/Blowfish.h"

#include <cstring>
#include <new>

#include "common/BlowfishTables.h"

CBlowfish::CBlowfish() : m_pP(new uint32_t[P_ENTRIES]), m_pS(new uint32_t[4 * 256]) {}

CBlowfish::~CBlowfish() {
    // The key-dependent state is wiped before the memory goes back.
    ::SecureZeroMemory(m_pP.get(), sizeof(uint32_t) * P_ENTRIES);
    ::SecureZeroMemory(m_pS.get(), sizeof(uint32_t) * 4 * 256);
}

uint32_t CBlowfish::F(uint32_t x) const noexcept {
    const uint32_t* s = m_pS.get();
    uint32_t a = s[0 * 256 + ((x >> 24) & 0xFF)];
    uint32_t b = s[1 * 256 + ((x >> 16) & 0xFF)];
    uint32_t c = s[2 * 256 + ((x >> 8) & 0xFF)];
    uint32_t d = s[3 * 256 + (x & 0xFF)];
    return ((a + b) ^ c) + d;
}

void CBlowfish::Encipher(uint32_t& left, uint32_t& right) const noexcept {
    uint32_t l = left, r = right;
    for (int i = 0; i < ROUNDS; ++i) {
        l ^= m_pP[i];
        r ^= F(l);
        uint32_t t = l;
        l = r;
        r = t;
    }
    uint32_t t = l;
    l = r;
    r = t;
    r ^= m_pP[ROUNDS];
    l ^= m_pP[ROUNDS + 1];
    left = l;
    right = r;
}

void CBlowfish::Decipher(uint32_t& left, uint32_t& right) const noexcept {
    uint32_t l = left, r = right;
    for (int i = ROUNDS + 1; i > 1; --i) {
        l ^= m_pP[i];
        r ^= F(l);
        uint32_t t = l;
        l = r;
        r = t;
    }
    uint32_t t = l;
    l = r;
    r = t;
    r ^= m_pP[1];
    l ^= m_pP[0];
    left = l;
    right = r;
}

bool CBlowfish::Initialize(const BYTE* key, int keyLength) {
    m_fKeyed = false;
    if (!key || keyLength < 1 || keyLength > 56) return false;
    std::memcpy(m_pS.get(), kBlowfishInitS, sizeof(uint32_t) * 4 * 256);
    int j = 0;
    for (int i = 0; i < P_ENTRIES; ++i) {
        uint32_t data = 0;
        for (int k = 0; k < 4; ++k) {
            data = (data << 8) | key[j];
            if (++j >= keyLength) j = 0;
        }
        m_pP[i] = kBlowfishInitP[i] ^ data;
    }
    uint32_t l = 0, r = 0;
    for (int i = 0; i < P_ENTRIES; i += 2) {
        Encipher(l, r);
        m_pP[i] = l;
        m_pP[i + 1] = r;
    }
    for (int box = 0; box < 4; ++box) {
        for (int i = 0; i < 256; i += 2) {
            Encipher(l, r);
            m_pS[box * 256 + i] = l;
            m_pS[box * 256 + i + 1] = r;
        }
    }
    m_fKeyed = true;
    return true;
}

namespace {

inline uint32_t LoadLE(const BYTE* p) noexcept {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline void StoreLE(BYTE* p, uint32_t v) noexcept {
    p[0] = BYTE(v);
    p[1] = BYTE(v >> 8);
    p[2] = BYTE(v >> 16);
    p[3] = BYTE(v >> 24);
}

}  // namespace

void CBlowfish::Encode(const BYTE* in, BYTE* out, DWORD size) const noexcept {
    DWORD whole = size & ~DWORD(BLOCK_SIZE - 1);
    for (DWORD i = 0; i < whole; i += BLOCK_SIZE) {
        uint32_t l = LoadLE(in + i), r = LoadLE(in + i + 4);
        Encipher(l, r);
        StoreLE(out + i, l);
        StoreLE(out + i + 4, r);
    }
    if (in != out && whole < size) std::memmove(out + whole, in + whole, size - whole);
}

void CBlowfish::Decode(const BYTE* in, BYTE* out, DWORD size) const noexcept {
    DWORD whole = size & ~DWORD(BLOCK_SIZE - 1);
    for (DWORD i = 0; i < whole; i += BLOCK_SIZE) {
        uint32_t l = LoadLE(in + i), r = LoadLE(in + i + 4);
        Decipher(l, r);
        StoreLE(out + i, l);
        StoreLE(out + i + 4, r);
    }
    if (in != out && whole < size) std::memmove(out + whole, in + whole, size - whole);
}

void CBlowfish::Encode(BYTE* data, DWORD size) const noexcept {
    Encode(data, data, size);
}
void CBlowfish::Decode(BYTE* data, DWORD size) const noexcept {
    Decode(data, data, size);
}

std::unique_ptr<CBlowfish> CBlowfish::CreateSettingsCipher() {
    // Put together at run time so the key does not sit in the image as one string.
    BYTE key[KEY_SIZE];
    key[0] = 0x5A;
    key[1] = 0xC3;
    key[2] = 0x17;
    key[3] = 0x9E;
    key[4] = 0x42;
    key[5] = 0xB8;
    key[6] = 0x6D;
    key[7] = 0xF1;
    std::unique_ptr<CBlowfish> cipher;
    try {
        cipher.reset(new CBlowfish);
    } catch (const std::bad_alloc&) {
    }
    bool ok = cipher && cipher->Initialize(key, KEY_SIZE);
    ::SecureZeroMemory(key, sizeof(key));
    if (!ok) return nullptr;
    return cipher;
}
