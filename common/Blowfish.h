#pragma once
// Blowfish (16 rounds, ECB on 8-byte blocks) for the enciphered settings values.
// Buffers are processed with LITTLE-endian halves: the first four bytes of a block are the
// left half read as a little-endian 32-bit word, the next four the right half; results are
// stored back the same way. Encipher/Decipher on word pairs are the textbook algorithm.
#include <windows.h>
#include <cstdint>
#include <memory>

class CBlowfish {
public:
    enum { ROUNDS = 16, P_ENTRIES = ROUNDS + 2, BLOCK_SIZE = 8, KEY_SIZE = 8 };

    CBlowfish();
    ~CBlowfish();
    CBlowfish(const CBlowfish&) = delete;
    CBlowfish& operator=(const CBlowfish&) = delete;

    // Standard key schedule (key bytes cycled big-endian into 32-bit words), 1 to 56 bytes.
    // Returns false when the key length is out of range; the cipher is then unkeyed.
    bool Initialize(const BYTE* key, int keyLength);
    bool IsKeyed() const noexcept { return m_fKeyed; }

    void Encipher(uint32_t& left, uint32_t& right) const noexcept;
    void Decipher(uint32_t& left, uint32_t& right) const noexcept;

    // In-place ECB over `size` bytes (a multiple of 8; a trailing partial block is left as is).
    void Encode(BYTE* data, DWORD size) const noexcept;
    void Decode(BYTE* data, DWORD size) const noexcept;
    // Copying forms: `out` receives `size` bytes.
    void Encode(const BYTE* in, BYTE* out, DWORD size) const noexcept;
    void Decode(const BYTE* in, BYTE* out, DWORD size) const noexcept;

    // A cipher keyed with the key both libraries use for the stored credentials; null when it
    // cannot be created.
    static std::unique_ptr<CBlowfish> CreateSettingsCipher();

private:
    uint32_t F(uint32_t x) const noexcept;

    std::unique_ptr<uint32_t[]> m_pP;  // 18 words
    std::unique_ptr<uint32_t[]> m_pS;  // 4 x 256 words, box b at m_pS[b * 256]
    bool m_fKeyed = false;
};
