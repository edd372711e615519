#include <gtest/gtest.h>
#include "service/SyncItem.h"

TEST(SyncItem, NewRecordIsComputingFromTheService) {
    CSyncItem item;
    EXPECT_EQ(ACTION_COMPUTING, item.m_nAction);
    EXPECT_EQ("Computing...", item.m_strActionText);
    EXPECT_EQ(SOURCE_SERVICE, item.m_nSource);
    EXPECT_EQ(-1, item.m_nListIndex);
    EXPECT_EQ("0", item.m_target.m_strCatID);
    EXPECT_EQ("0", item.m_target.m_strSpaceID);
    EXPECT_EQ("", item.m_target.m_strID);
    EXPECT_EQ("Task", item.m_strType);
    EXPECT_EQ(nullptr, item.m_pCounterpart);
}

TEST(SyncItem, ActionTextsComeFromTheStringTable) {
    CSyncItem item;
    const char* texts[] = {"Update HV",    "Update Outlook", "None",        "",
                           "Computing...", "Action Failed",  "Delete Item", "Delete Item"};
    for (long action = 0; action < 8; ++action) {
        item.SetAction(action);
        EXPECT_EQ(action, item.m_nAction);
        EXPECT_EQ(texts[action], item.m_strActionText);
    }
}

TEST(SyncItem, UnknownActionBecomesComputing) {
    CSyncItem item;
    item.SetAction(ACTION_NONE);
    item.SetAction(9);
    EXPECT_EQ(ACTION_COMPUTING, item.m_nAction);
    EXPECT_EQ("Computing...", item.m_strActionText);
    item.SetAction(-1);
    EXPECT_EQ(ACTION_COMPUTING, item.m_nAction);
}

TEST(SyncItem, ActionOnAPairChangesBoth) {
    CSyncItem service, outlook;
    service.m_pCounterpart = &outlook;
    outlook.m_pCounterpart = &service;
    service.SetAction(ACTION_UPDATE_OUTLOOK);
    EXPECT_EQ(ACTION_UPDATE_OUTLOOK, outlook.m_nAction);
    EXPECT_EQ("Update Outlook", outlook.m_strActionText);
    outlook.SetAction(ACTION_DELETE_SERVICE);
    EXPECT_EQ(ACTION_DELETE_SERVICE, service.m_nAction);
    EXPECT_EQ("Delete Item", service.m_strActionText);
}

TEST(SyncItem, AssignmentCopiesEveryFieldAndSharesPointers) {
    CSyncItem a, other;
    a.m_target.m_strID = "7";
    a.start_time = "2010-01-01T10:00:00+00:00";
    a.m_pCounterpart = &other;
    a.m_timeOutlookModified = 12345;
    CSyncItem b(a);
    EXPECT_EQ("7", b.m_target.m_strID);
    EXPECT_EQ("2010-01-01T10:00:00+00:00", b.start_date);
    EXPECT_EQ(&other, b.m_pCounterpart);
    EXPECT_EQ(12345, b.m_timeOutlookModified);
    b.start_time = "changed";
    EXPECT_EQ("2010-01-01T10:00:00+00:00", a.start_date);  // the alias is b's own field
    CSyncItem c;
    c = b;
    EXPECT_EQ("changed", c.start_date);
}

TEST(SyncItem, BlobWrittenAndReadBack) {
    CSyncItem item;
    item.m_target = {"901", "15", "1", "Launch Plan", "Marketing"};
    std::string lastMod = "2012-11-08T10:00:00";
    std::string assigned = "Alice Archer", ids = "1,2";
    std::string blob = item.BuildLinkBlob(&lastMod, &assigned, &ids, nullptr, nullptr);
    EXPECT_EQ(
        "<HV><ID>901</ID><CatID>15</CatID><SpaceID>1</SpaceID><Folder>Launch Plan</Folder>"
        "<Workspace>Marketing</Workspace><LastMod>2012-11-08T10:00:00</LastMod>"
        "<AssignedTo>Alice Archer</AssignedTo><AssignedIDs>1,2</AssignedIDs></HV>",
        blob);
    CSyncItem back;
    back.m_strHash = "";
    ASSERT_EQ(S_OK, back.ReadLinkBlob(blob));
    EXPECT_EQ("901", back.m_target.m_strID);
    EXPECT_EQ("15", back.m_target.m_strCatID);
    EXPECT_EQ("1", back.m_target.m_strSpaceID);
    EXPECT_EQ("Launch Plan", back.m_target.m_strFolder);
    EXPECT_EQ("Marketing", back.m_target.m_strWorkspace);
    EXPECT_EQ("2012-11-08T10:00:00Z", back.last_modified);  // normalised on read
    EXPECT_EQ("1,2", back.assigned_to_userids);
    EXPECT_EQ("Alice Archer", back.assigned_to);
    EXPECT_EQ("", back.m_strHash);
}

TEST(SyncItem, BlobEscapesTheFiveSpecialCharacters) {
    CSyncItem item;
    item.m_target = {"5", "0", "0", "R&D <Team>", "\"Bob's\" place"};
    std::string organizer = "A&B";
    std::string blob = item.BuildLinkBlob(nullptr, nullptr, nullptr, &organizer, nullptr);
    EXPECT_NE(std::string::npos, blob.find("<Folder>R&amp;D &lt;Team&gt;</Folder>"));
    EXPECT_NE(std::string::npos, blob.find("<Workspace>&quot;Bob&apos;s&quot; place</Workspace>"));
    EXPECT_EQ(std::string::npos, blob.find("LastMod"));
    CSyncItem back;
    ASSERT_EQ(S_OK, back.ReadLinkBlob(blob));
    EXPECT_EQ("R&D <Team>", back.m_target.m_strFolder);
    EXPECT_EQ("\"Bob's\" place", back.m_target.m_strWorkspace);
    EXPECT_EQ("A&B", back.organizer);
}

TEST(SyncItem, OldUnescapedBlobStaysReadableWithItsHash) {
    CSyncItem back;
    ASSERT_EQ(S_OK, back.ReadLinkBlob(
                        "<HV><ID>44</ID><CatID>3</CatID><SpaceID>2</SpaceID><Folder>Docs</Folder>"
                        "<Workspace>Eng</Workspace><Hash>abc</Hash><LastMod>2010-01-01T00:00:00Z</LastMod></HV>"));
    EXPECT_EQ("44", back.m_target.m_strID);
    EXPECT_EQ("abc", back.m_strHash);
    EXPECT_EQ("2010-01-01T00:00:00Z", back.last_modified);
}

TEST(SyncItem, BadBlobLeavesTheRecordAlone) {
    CSyncItem back;
    back.m_target.m_strID = "keep";
    EXPECT_NE(S_OK, back.ReadLinkBlob(""));
    EXPECT_NE(S_OK, back.ReadLinkBlob("not xml <"));
    EXPECT_NE(S_OK, back.ReadLinkBlob("<Other><ID>1</ID></Other>"));
    EXPECT_EQ("keep", back.m_target.m_strID);
}
