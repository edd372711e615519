#include <gtest/gtest.h>
#include "win/ComPtr.h"
#include "win/ComTypes.h"
#include "win/Errors.h"
#include "win/Files.h"
#include "win/Strings.h"
#include "win/UniqueAny.h"

namespace {

TEST(WinStrings, AnsiRoundTripUsesCodePage1252) {
    EXPECT_EQ(1252u, ::GetACP());
    std::string cafe = "Caf\xE9";
    std::wstring w = hv::ToWide(cafe);
    ASSERT_EQ(4u, w.size());
    EXPECT_EQ(L'\u00E9', w[3]);
    EXPECT_EQ(cafe, hv::ToAnsi(w));
}

TEST(WinStrings, FormatGrowsWithoutLimit) {
    std::string big(5000, 'x');
    EXPECT_EQ(5002u, hv::Format("<%s>", big.c_str()).size());
}

TEST(WinStrings, ReplaceAllHandlesOverlapFreeReplacement) {
    std::string s = "C:\\dir\\HvOut.dll";
    EXPECT_EQ(1u, hv::ReplaceAll(s, "HvOut.dll", ""));
    EXPECT_EQ("C:\\dir\\", s);
    std::string t = "aaa";
    EXPECT_EQ(3u, hv::ReplaceAll(t, "a", "aa"));
    EXPECT_EQ("aaaaaa", t);
}

TEST(WinHandles, UniqueHandleClosesAndReleases) {
    hv::unique_handle ev(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(ev);
    HANDLE raw = ev.get();
    hv::unique_handle moved(std::move(ev));
    EXPECT_FALSE(ev);
    EXPECT_EQ(raw, moved.get());
    HANDLE released = moved.release();
    EXPECT_FALSE(moved);
    EXPECT_TRUE(::CloseHandle(released));
}

TEST(WinHandles, InvalidFileHandleIsNotValid) {
    hv::unique_hfile f(::CreateFileA("Z:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(f);
}

TEST(WinVariant, ConversionsAndCopies) {
    auto v = hv::unique_variant::FromString("42");
    EXPECT_EQ(42, v.AsLong());
    hv::unique_variant copy = v;
    EXPECT_EQ("42", copy.AsString());
    auto b = hv::unique_variant::FromBool(true);
    EXPECT_TRUE(b.AsBool());
    EXPECT_THROW(hv::unique_variant::FromString("not a number").AsLong(), hv::hr_error);
}

HRESULT ThrowingOperation() {
    try {
        THROW_IF_FAILED(E_ACCESSDENIED);
        return S_OK;
    }
    CATCH_RETURN();
}

TEST(WinErrors, CatchReturnGivesTheThrownCode) {
    EXPECT_EQ(E_ACCESSDENIED, ThrowingOperation());
}

TEST(WinFiles, TempFileHasPrefixAndExists) {
    std::string path = hv::NewTempFile("HVt");
    ASSERT_FALSE(path.empty());
    EXPECT_NE(std::string::npos, path.find("HVt"));
    EXPECT_TRUE(hv::FileExists(path));
    EXPECT_TRUE(hv::WriteWholeFile(path, "abc"));
    std::string back;
    EXPECT_TRUE(hv::ReadWholeFile(path, back));
    EXPECT_EQ("abc", back);
    ::DeleteFileA(path.c_str());
}

}  // namespace
