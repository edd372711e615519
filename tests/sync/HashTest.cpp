#include <gtest/gtest.h>
#include "service/SyncItem.h"
#include "sync/Hash.h"
#include "sync/Hasher.h"
#include "win/Files.h"

TEST(Hash, Md5OfTextIsLowerCaseHex) {
    CHash hash;
    std::string hex = "stale";
    EXPECT_EQ(0u, hash.Compute("", 0, hex));
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", hex);
    EXPECT_EQ(0u, hash.Compute("The quick brown fox jumps over the lazy dog", 0, hex));
    EXPECT_EQ("9e107d9d372bb6826bd81d3542a419d6", hex);
}

TEST(Hash, Md5OfAFileReadInChunks) {
    std::string path = hv::NewTempFile("HVt");
    std::string data(5000, 'a');
    ASSERT_TRUE(hv::WriteWholeFile(path, data));
    CHash hash;
    std::string fromFile, fromText;
    EXPECT_EQ(0u, hash.Compute(path.c_str(), 1, fromFile));
    EXPECT_EQ(0u, hash.Compute(data.c_str(), 0, fromText));
    EXPECT_EQ(fromText, fromFile);
    ::DeleteFileA(path.c_str());
    std::string missing = "x";
    EXPECT_NE(0u, hash.Compute(path.c_str(), 1, missing));
    EXPECT_EQ("", missing);
}

TEST(Hasher, WorkedExampleOfATask) {
    CHasher hasher;
    std::string hash;
    hasher.HashTaskProps("Call Bob $5", "3", "", "2010-05-03", "false", "", "Ask about\r\nthe report", hash);
    EXPECT_EQ("Call Bob 532010-05-03falseAsk aboutthe report", hasher.m_strInput);
    EXPECT_EQ(45u, hasher.m_strInput.size());
    EXPECT_EQ("a62790c6f6e62ba23e21a2d2805ccb62", hash);
}

TEST(Hasher, FilterDropsLineBreaksTabsDollarsAndAccents) {
    CHasher hasher;
    std::string a, b;
    hasher.HashApptProps("Meet", "Room", "", "", "", "", "", "one\ttwo $three", a);
    hasher.HashApptProps("Meet", "Room", "", "", "", "", "",
                         "onetwo\r\n thr\xE9"
                         "ee",
                         b);
    EXPECT_EQ(a, b);
    EXPECT_EQ("MeetRoomonetwo three", hasher.m_strInput);
}

TEST(Hasher, TaskWithoutDatesGoesFromPriorityToCompleted) {
    CHasher hasher;
    std::string hash;
    hasher.HashTaskProps("T", "2", nullptr, "", "true", "1,2", "b", hash);
    EXPECT_EQ("T2true1,2b", hasher.m_strInput);
}

TEST(Hasher, TaskDateRules) {
    // A text with "-" is only cut at "T", never converted to local time.
    EXPECT_EQ("2010-05-01", CHasher::TaskDateText("2010-05-01T22:00:00Z"));
    // A text without "-" that parses becomes the local date of that instant (Berlin: +2 in May).
    EXPECT_EQ("2010-05-02", CHasher::TaskDateText("2010/05/01T22:00:00Z"));
    // One that does not parse is kept and only cut at "T".
    EXPECT_EQ("20100501", CHasher::TaskDateText("20100501T22"));
    EXPECT_EQ("", CHasher::TaskDateText(""));
    CHasher hasher;
    std::string hash;
    hasher.HashTaskProps("T", "1", "", "2010-05-03T07:00:00Z", "false", "", "", hash);
    EXPECT_EQ("T12010-05-03false", hasher.m_strInput);
}

TEST(Hasher, TaskRecordFromTheServiceKeepsItsDateText) {
    CSyncItem record;
    record.title = "T";
    record.priority = "2";
    record.start_date = "2010-05-01T22:00:00Z";
    record.due_date = "2010-05-03";
    record.completed = "false";
    record.location = "ignored";
    CHasher hasher;
    EXPECT_EQ(0, hasher.Hash(nullptr, 48, &record, 0, 1));
    EXPECT_EQ("T22010-05-012010-05-03false", hasher.m_strInput);
    std::string before = record.m_strHash;
    record.location = "elsewhere";
    hasher.Hash(nullptr, 48, &record, 0, 1);
    EXPECT_EQ(before, record.m_strHash);
}

TEST(Hasher, AppointmentRecordUsesItsTextsInOrder) {
    CSyncItem record;
    record.title = "Title";
    record.location = "Loc";
    record.start_time = "2012-11-08T10:00:00+00:00";
    record.end_time = "2012-11-08T11:00:00+00:00";
    record.assigned_to_userids = "1";
    record.organizer = "Org";
    record.internal_use_only = "false";
    record.description_plain_text = "Body";
    CHasher hasher;
    EXPECT_EQ(0, hasher.Hash(nullptr, 26, &record, 0, 1));
    EXPECT_EQ("TitleLoc2012-11-08T10:00:00+00:002012-11-08T11:00:00+00:001OrgfalseBody", hasher.m_strInput);
    EXPECT_EQ(32u, record.m_strHash.size());
}

TEST(Hasher, OtherClassIsNotImplemented) {
    CSyncItem record;
    CHasher hasher;
    EXPECT_EQ(E_NOTIMPL, hasher.Hash(nullptr, 43, &record, 1, 1));
    EXPECT_EQ("", record.m_strHash);
}
