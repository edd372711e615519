#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include "common/Blowfish.h"
#include "common/BlowfishTables.h"

namespace {

std::string Hex(const BYTE* p, size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

void FromHex(const char* hex, BYTE* out) {
    for (int i = 0; i < 8; ++i) {
        unsigned v = 0;
        sscanf(hex + 2 * i, "%2x", &v);
        out[i] = BYTE(v);
    }
}

uint32_t LoadBE(const BYTE* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
void StoreBE(BYTE* p, uint32_t v) {
    p[0] = BYTE(v >> 24);
    p[1] = BYTE(v >> 16);
    p[2] = BYTE(v >> 8);
    p[3] = BYTE(v);
}

struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// Eric Young's published vectors; they read each half big-endian.
const Vector kVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
};

// Bailey-Borwein-Plouffe digit extraction: the 32-bit word of pi's fractional hex digits that
// starts at digit `position` (0-based after the point).
long double BbpSeries(int j, long position) {
    long double sum = 0;
    for (long k = 0; k <= position; ++k) {
        uint64_t m = 8 * k + j, result = 1, base = 16 % m;
        for (long e = position - k; e > 0; e >>= 1) {
            if (e & 1) result = result * base % m;
            base = base * base % m;
        }
        sum += (long double)result / m;
        sum -= (long double)(uint64_t)sum;
    }
    long double term = 1;
    for (long k = position + 1; k <= position + 20; ++k) {
        term /= 16;
        sum += term / (8 * k + j);
    }
    return sum - (long double)(uint64_t)sum;
}

uint32_t PiWord(long position) {
    long double x =
        4 * BbpSeries(1, position) - 2 * BbpSeries(4, position) - BbpSeries(5, position) - BbpSeries(6, position);
    x -= (long double)(int64_t)x;
    if (x < 0) x += 1;
    return uint32_t(x * 4294967296.0L);
}

TEST(Blowfish, InitialTablesAreTheHexDigitsOfPi) {
    EXPECT_EQ(0x243F6A88u, PiWord(0));
    // Every 29th word and the last one, recomputed independently of the table's generator.
    for (long word = 0; word < 18 + 4 * 256; word += 29) {
        uint32_t expected = PiWord(8 * word);
        uint32_t actual = word < 18 ? kBlowfishInitP[word] : kBlowfishInitS[(word - 18) / 256][(word - 18) % 256];
        EXPECT_EQ(expected, actual) << "word " << word;
    }
    EXPECT_EQ(PiWord(8 * (18 + 4 * 256 - 1)), kBlowfishInitS[3][255]);
}

TEST(Blowfish, PublishedVectorsWithBigEndianHalves) {
    for (const Vector& v : kVectors) {
        BYTE key[8], block[8];
        FromHex(v.key, key);
        FromHex(v.plain, block);
        CBlowfish bf;
        ASSERT_TRUE(bf.Initialize(key, 8));
        uint32_t l = LoadBE(block), r = LoadBE(block + 4);
        bf.Encipher(l, r);
        BYTE out[8];
        StoreBE(out, l);
        StoreBE(out + 4, r);
        EXPECT_EQ(v.cipher, Hex(out, 8)) << "key " << v.key;
        bf.Decipher(l, r);
        StoreBE(out, l);
        StoreBE(out + 4, r);
        EXPECT_EQ(v.plain, Hex(out, 8)) << "key " << v.key;
    }
}

TEST(Blowfish, BuffersUseLittleEndianHalves) {
    BYTE key[8];
    FromHex("0123456789ABCDEF", key);
    CBlowfish bf;
    ASSERT_TRUE(bf.Initialize(key, 8));
    // The published plain text 1111111111111111 is the same in either byte order, so the
    // block comes out as the published cipher words stored little-endian.
    BYTE block[8];
    FromHex("1111111111111111", block);
    bf.Encode(block, 8);
    EXPECT_EQ("80C3F96196B08122", Hex(block, 8));
    bf.Decode(block, 8);
    EXPECT_EQ("1111111111111111", Hex(block, 8));

    // An asymmetric block differs from the big-endian reading.
    BYTE a[8], b[8];
    FromHex("0123456789ABCDEF", a);
    std::memcpy(b, a, 8);
    bf.Encode(a, 8);
    uint32_t l = LoadBE(b), r = LoadBE(b + 4);
    bf.Encipher(l, r);
    StoreBE(b, l);
    StoreBE(b + 4, r);
    EXPECT_NE(Hex(a, 8), Hex(b, 8));
}

TEST(Blowfish, SettingsCipherRoundTripsSeveralBlocks) {
    auto bf = CBlowfish::CreateSettingsCipher();
    ASSERT_TRUE(bf);
    BYTE plain[32], work[32], back[32];
    for (int i = 0; i < 32; ++i) plain[i] = BYTE(i * 7 + 1);
    bf->Encode(plain, work, 32);
    EXPECT_NE(0, std::memcmp(plain, work, 32));
    // ECB: equal blocks encipher equally, so two different blocks differ.
    EXPECT_NE(0, std::memcmp(work, work + 8, 8));
    bf->Decode(work, back, 32);
    EXPECT_EQ(0, std::memcmp(plain, back, 32));

    // The key is the same for every cipher made for the settings.
    auto other = CBlowfish::CreateSettingsCipher();
    BYTE again[32];
    other->Encode(plain, again, 32);
    EXPECT_EQ(0, std::memcmp(work, again, 32));
}

TEST(Blowfish, RejectsBadKeyLengths) {
    CBlowfish bf;
    BYTE key[57] = {};
    EXPECT_FALSE(bf.Initialize(key, 0));
    EXPECT_FALSE(bf.Initialize(key, 57));
    EXPECT_TRUE(bf.Initialize(key, 56));
}

}  // namespace
