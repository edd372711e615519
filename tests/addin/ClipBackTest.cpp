// The clipboard backup on its own: what it saves and what it puts back.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "ui/ClipBack.h"

namespace {

void Put(UINT format, const std::string& bytes) {
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, bytes.size() + 1);
    char* p = static_cast<char*>(::GlobalLock(block));
    std::memcpy(p, bytes.c_str(), bytes.size() + 1);
    ::GlobalUnlock(block);
    ASSERT_TRUE(::SetClipboardData(format, block));
}

std::string Read(UINT format) {
    std::string out;
    if (!::OpenClipboard(nullptr)) return out;
    if (HANDLE data = ::GetClipboardData(format)) {
        const char* p = static_cast<const char*>(::GlobalLock(data));
        if (p) out.assign(p, ::GlobalSize(data));
        ::GlobalUnlock(data);
    }
    ::CloseClipboard();
    return out.c_str();  // up to the terminator
}

int FormatCount() {
    if (!::OpenClipboard(nullptr)) return -1;
    const int n = ::CountClipboardFormats();
    ::CloseClipboard();
    return n;
}

}  // namespace

TEST(ClipBack, TextAndARegisteredFormatComeBackAfterTheClipboardWasUsed) {
    const UINT privateFormat = ::RegisterClipboardFormatA("HvTest Private Format");
    ASSERT_TRUE(::OpenClipboard(nullptr));
    ::EmptyClipboard();
    Put(CF_TEXT, "user text");
    Put(privateFormat, "private bytes");
    ::CloseClipboard();

    CClipBack backup;
    EXPECT_GE(backup.Entries().size(), 2u);
    ASSERT_TRUE(::OpenClipboard(nullptr));
    ::EmptyClipboard();
    Put(CF_TEXT, "something else");
    ::CloseClipboard();
    ASSERT_TRUE(backup.Restore());

    EXPECT_EQ("user text", Read(CF_TEXT));
    EXPECT_EQ("private bytes", Read(privateFormat));
}

TEST(ClipBack, AnEmptyClipboardIsRestoredEmpty) {
    ASSERT_TRUE(::OpenClipboard(nullptr));
    ::EmptyClipboard();
    ::CloseClipboard();
    CClipBack backup;
    EXPECT_TRUE(backup.Entries().empty());
    ASSERT_TRUE(::OpenClipboard(nullptr));
    Put(CF_TEXT, "left over");
    ::CloseClipboard();
    ASSERT_TRUE(backup.Restore());
    EXPECT_EQ(0, FormatCount());
}
