// The four directory operations against the reference service, and byte-exact requests and
// edge-case answers against a loopback responder.
#include "TestResponder.h"
#include <gtest/gtest.h>
#include "UiTestSupport.h"
#include "service/OpCheckPluginVersion.h"
#include "service/OpGetCategory.h"
#include "service/OpGetUserPaths.h"
#include "service/OpGetWorkspaceMemberList.h"
#include "service/Protocol.h"

namespace {

const std::string kResponder = hvtest::Loopback(21);

template <class Op>
std::unique_ptr<Op> MakeOp(const char* user, const char* password) {
    std::unique_ptr<Op> op(new Op(TheAPI()->m_strServiceURL));
    op->m_credentials.m_strUser = user;
    op->m_credentials.m_strPassword = password;
    return op;
}

class DirectoryOps : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(ConnectToService(ServiceAddress().c_str()).empty()); }
    void TearDown() override { DisconnectService(); }
};

TEST_F(DirectoryOps, UserPathsListFoldersAndDatabaseRecordsInServiceOrder) {
    auto op = MakeOp<OpGetUserPaths>("alice", "alice-pass");
    ASSERT_EQ(1, op->Run(0, nullptr, 0, 0)) << op->m_strFaultString;
    EXPECT_EQ(S_OK, op->m_hResult);
    std::vector<std::string> names;
    for (const auto& p : op->m_paths) names.push_back(p->category_name);
    EXPECT_EQ((std::vector<std::string>{"Alpha > Docs", "Alpha > Docs > 2009", "Alpha > Plans (private)",
                                        "Alpha > Records", "Alpha > Notes"}),
              names);
    ASSERT_EQ(5u, op->m_paths.size());
    EXPECT_EQ("1", op->m_paths[1]->space_id);
    EXPECT_EQ("12", op->m_paths[1]->category_id);
    EXPECT_EQ("", op->m_paths[1]->db_guid);
    EXPECT_EQ("8f14e45f-ceea-467f-a0e6-7a1b2c3d4e5f", op->m_paths[3]->db_guid);
    EXPECT_EQ("2", op->m_paths[4]->space_id);
    EXPECT_EQ(nullptr, op->m_paths[4]->m_hTreeItem);
    EXPECT_EQ("OpGetUserPaths", op->m_strKind);
    EXPECT_STREQ("Requesting User Paths", op->StepText(2));
    EXPECT_STREQ("User Paths Received", op->StepText(5));
}

TEST_F(DirectoryOps, UserPathsOfTaskTypeListTaskLists) {
    auto op = MakeOp<OpGetUserPaths>("alice", "alice-pass");
    op->m_strCategoryType = "task";
    ASSERT_EQ(1, op->Run(0, nullptr, 0, 0)) << op->m_strFaultString;
    ASSERT_EQ(1u, op->m_paths.size());
    EXPECT_EQ("Alpha > Launch", op->m_paths[0]->category_name);
    EXPECT_EQ("14", op->m_paths[0]->category_id);
}

TEST_F(DirectoryOps, UserWithoutWorkspacesGetsAnEmptyListAndSuccess) {
    auto op = MakeOp<OpGetUserPaths>("carol", "carol-pass");
    ASSERT_EQ(1, op->Run(0, nullptr, 0, 0)) << op->m_strFaultString;
    EXPECT_EQ(S_OK, op->m_hResult);
    EXPECT_TRUE(op->m_paths.empty());
}

TEST_F(DirectoryOps, RejectedPasswordIsASoapFault) {
    auto op = MakeOp<OpGetUserPaths>("alice", "wrong");
    EXPECT_EQ(0, op->Run(0, nullptr, 0, 0));
    EXPECT_EQ(E_FAIL, op->m_hResult);
    EXPECT_EQ("Invalid user name or password", op->m_strFaultString);
    EXPECT_TRUE(op->m_paths.empty());
}

TEST_F(DirectoryOps, MemberListOfAWorkspace) {
    auto op = MakeOp<OpGetWorkspaceMemberList>("alice", "alice-pass");
    op->m_strSpaceId = "1";
    ASSERT_EQ(1, op->Run(0, nullptr, 0, 0)) << op->m_strFaultString;
    ASSERT_EQ(2u, op->m_members.size());
    EXPECT_EQ("1", op->m_members[0]->user_id);
    EXPECT_EQ("alice", op->m_members[0]->username);
    EXPECT_EQ("alice@example.com", op->m_members[0]->email);
    EXPECT_EQ("Alice Archer", op->m_members[0]->full_name);
    EXPECT_EQ("+44 20 7946 0001", op->m_members[0]->phone);
    EXPECT_EQ("Bob Baker", op->m_members[1]->full_name);
    EXPECT_EQ(0u, op->m_members[1]->m_fChecked);
}

TEST_F(DirectoryOps, MemberListOfAForeignWorkspaceFails) {
    auto op = MakeOp<OpGetWorkspaceMemberList>("bob", "bob-pass");
    op->m_strSpaceId = "2";
    EXPECT_EQ(0, op->Run(0, nullptr, 0, 0));
    EXPECT_EQ(E_FAIL, op->m_hResult);
    EXPECT_EQ("You are not a member of workspace 2", op->m_strFaultString);
}

TEST_F(DirectoryOps, CategoryWithForwardingAddressAndInternalUseFlag) {
    auto op = MakeOp<OpGetCategory>("alice", "alice-pass");
    op->m_strSpaceId = "1";
    op->m_strCategoryId = "13";
    ASSERT_EQ(1, op->Run(0, nullptr, 0, 0)) << op->m_strFaultString;
    ASSERT_TRUE(op->m_pCategory);
    EXPECT_EQ("13", op->m_pCategory->category_id);
    EXPECT_EQ("Plans (private)", op->m_pCategory->category_name);
    EXPECT_EQ("7", op->m_pCategory->milestone_id);
    EXPECT_EQ("plans@halvane.invalid", op->m_pCategory->email_primary);
    EXPECT_EQ(1u, op->m_pCategory->internal_use_only);
    EXPECT_TRUE(op->m_strResponsePath.empty());  // kept in memory
}

TEST_F(DirectoryOps, UnknownCategoryFails) {
    auto op = MakeOp<OpGetCategory>("alice", "alice-pass");
    op->m_strSpaceId = "1";
    op->m_strCategoryId = "999";
    EXPECT_EQ(0, op->Run(0, nullptr, 0, 0));
    EXPECT_FALSE(op->m_pCategory);
    EXPECT_EQ(E_FAIL, op->m_hResult);
}

TEST_F(DirectoryOps, PluginVersionCheckReturnsTheOfferedVersion) {
    auto op = MakeOp<OpCheckPluginVersion>("alice", "alice-pass");
    op->m_strVersion = " 1.1.0.9";
    op->m_strEnvironment = "<Windows>W</Windows><Outlook></Outlook>";
    ASSERT_EQ(1, op->Run(0, nullptr, 0, 0)) << op->m_strFaultString;
    EXPECT_EQ("2.2.0.0", op->m_strCurrentVersion);
    EXPECT_EQ(S_OK, op->m_hResult);
}

// --- byte-exact requests and answers the reference service does not give --------------------

class DirectoryOpsWire : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_responder.Listening());
        ASSERT_FALSE(ConnectToService(kResponder.c_str()).empty());
    }
    void TearDown() override { DisconnectService(); }
    CTestResponder m_responder{kResponder.c_str()};
};

const char* kHead =
    "<SOAP-ENV:Envelope\nxmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"\n"
    "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\"\n"
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"\nxmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"\n"
    "xmlns:m1=\"urn:Halvane/API\">\n<SOAP-ENV:Header>\n<m:SessionHeader xmlns:m=\"urn:Halvane/API\">\n"
    "<m:username>a&amp;b</m:username>\n<m:password>p&lt;w</m:password>\n</m:SessionHeader>\n</SOAP-ENV:Header>\n";

TEST_F(DirectoryOpsWire, UserPathsRequestEscapesTheCredentialsOnly) {
    m_responder.Enqueue(200, SoapAnswer("<ns1:GetUserPathsResponse></ns1:GetUserPathsResponse>"));
    auto op = MakeOp<OpGetUserPaths>("a&b", "p<w");
    ASSERT_EQ(1, op->Run(0, nullptr, 0, 0));
    EXPECT_TRUE(op->m_paths.empty());
    auto requests = m_responder.Requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ(std::string(kHead) +
                  "<SOAP-ENV:Body>\n<m:GetUserPaths xmlns:m=\"urn:Halvane/API\">\n<m:category_type>folder"
                  "</m:category_type>\n</m:GetUserPaths>\n</SOAP-ENV:Body>\n</SOAP-ENV:Envelope>\n",
              CTestResponder::Body(requests[0]));
}

TEST_F(DirectoryOpsWire, MemberCategoryAndVersionBodies) {
    for (int i = 0; i < 3; ++i) m_responder.Enqueue(500, SoapFault("SOAP-ENV:Client", "no"));
    auto members = MakeOp<OpGetWorkspaceMemberList>("a&b", "p<w");
    members->m_strSpaceId = "7&";
    members->Run(0, nullptr, 0, 0);
    auto category = MakeOp<OpGetCategory>("a&b", "p<w");
    category->m_strSpaceId = "3";
    category->m_strCategoryId = "44";
    category->Run(0, nullptr, 0, 0);
    auto version = MakeOp<OpCheckPluginVersion>("a&b", "p<w");
    version->m_strVersion = " 1.1.0.9";
    version->m_strEnvironment = "<Windows>a&amp;b</Windows>";
    version->Run(0, nullptr, 0, 0);
    auto requests = m_responder.Requests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ(std::string(kHead) +
                  "<SOAP-ENV:Body>\n<m:GetWorkspaceMemberList xmlns:m=\"urn:Halvane/API\">\n<m:space_id>7&"
                  "</m:space_id>\n</m:GetWorkspaceMemberList>\n</SOAP-ENV:Body>\n</SOAP-ENV:Envelope>\n",
              CTestResponder::Body(requests[0]));
    EXPECT_EQ(std::string(kHead) +
                  "<SOAP-ENV:Body>\n<m:GetCategory xmlns:m=\"urn:Halvane/API\">\n<m:space_id>3</m:space_id>\n"
                  "<m:category_id>44</m:category_id>\n</m:GetCategory>\n</SOAP-ENV:Body>\n</SOAP-ENV:Envelope>\n",
              CTestResponder::Body(requests[1]));
    EXPECT_EQ(std::string(kHead) +
                  "<SOAP-ENV:Body>\n<m:CheckPluginVersion xmlns:m=\"urn:Halvane/API\">\n"
                  "<m:plugin_type>outlook</m:plugin_type>\n<m:version> 1.1.0.9</m:version>\n"
                  "<m:environment>&lt;Windows&gt;a&amp;amp;b&lt;&#47;Windows&gt;</m:environment>\n"
                  "<m:comments></m:comments>\n</m:CheckPluginVersion>\n</SOAP-ENV:Body>\n</SOAP-ENV:Envelope>\n",
              CTestResponder::Body(requests[2]));
    EXPECT_NE(std::string::npos,
              CTestResponder::Head(requests[2]).find("SOAPAction: \"" + TheAPI()->m_strServiceURL + "\""));
}

TEST_F(DirectoryOpsWire, EmptyMemberListIsSuccess) {
    m_responder.Enqueue(200, SoapAnswer("<ns1:GetWorkspaceMemberListResponse/>"));
    auto op = MakeOp<OpGetWorkspaceMemberList>("u", "p");
    op->m_strSpaceId = "1";
    EXPECT_EQ(1, op->Run(0, nullptr, 0, 0));
    EXPECT_TRUE(op->m_members.empty());
}

TEST_F(DirectoryOpsWire, MissingResponseElementFailsWithTheNavigationResult) {
    m_responder.Enqueue(200, SoapAnswer("<ns1:Other/>"));
    auto op = MakeOp<OpGetUserPaths>("u", "p");
    EXPECT_EQ(0, op->Run(0, nullptr, 0, 0));
    EXPECT_EQ(S_FALSE, op->m_hResult);  // nothing found, not a success
}

TEST_F(DirectoryOpsWire, PathsWithMissingElementsKeepEmptyFields) {
    m_responder.Enqueue(200, SoapAnswer("<ns1:GetUserPathsResponse><ns1:GetUserPathsReturn><ns1:space_id>4"
                                        "</ns1:space_id><ns1:category_name>W > F</ns1:category_name>"
                                        "</ns1:GetUserPathsReturn></ns1:GetUserPathsResponse>"));
    auto op = MakeOp<OpGetUserPaths>("u", "p");
    ASSERT_EQ(1, op->Run(0, nullptr, 0, 0));
    ASSERT_EQ(1u, op->m_paths.size());
    EXPECT_EQ("4", op->m_paths[0]->space_id);
    EXPECT_EQ("", op->m_paths[0]->category_id);
    EXPECT_EQ("W > F", op->m_paths[0]->category_name);
}

TEST_F(DirectoryOpsWire, TwoCategoriesGiveSuccessWithoutACategory) {
    const std::string ret =
        "<ns1:GetCategoryReturn><ns1:category_id>1</ns1:category_id><ns1:category_name>A"
        "</ns1:category_name></ns1:GetCategoryReturn>";
    m_responder.Enqueue(200, SoapAnswer("<ns1:GetCategoryResponse>" + ret + ret + "</ns1:GetCategoryResponse>"));
    auto op = MakeOp<OpGetCategory>("u", "p");
    EXPECT_EQ(1, op->Run(0, nullptr, 0, 0));
    EXPECT_FALSE(op->m_pCategory);
}

// An answer without its return element names no category and is no answer either.
TEST_F(DirectoryOpsWire, CategoryAnswerWithoutItsReturnElementFails) {
    m_responder.Enqueue(200, SoapAnswer("<ns1:GetCategoryResponse/>"));
    auto op = MakeOp<OpGetCategory>("u", "p");
    EXPECT_EQ(0, op->Run(0, nullptr, 0, 0));
    EXPECT_TRUE(FAILED(op->m_hResult));
    EXPECT_FALSE(op->m_pCategory);
}

TEST_F(DirectoryOpsWire, CategoryInternalUseOnlyOtherThanTrueStaysClear) {
    m_responder.Enqueue(200, SoapAnswer("<ns1:GetCategoryResponse><ns1:GetCategoryReturn><ns1:category_id>5"
                                        "</ns1:category_id><ns1:category_name>F</ns1:category_name>"
                                        "<ns1:internal_use_only>false</ns1:internal_use_only>"
                                        "</ns1:GetCategoryReturn></ns1:GetCategoryResponse>"));
    auto op = MakeOp<OpGetCategory>("u", "p");
    ASSERT_EQ(1, op->Run(0, nullptr, 0, 0));
    ASSERT_TRUE(op->m_pCategory);
    EXPECT_EQ(0u, op->m_pCategory->internal_use_only);
    EXPECT_EQ("0", op->m_pCategory->space_id);
}

TEST_F(DirectoryOpsWire, EmptyCurrentVersionFailsAlthoughAccepted) {
    m_responder.Enqueue(200, SoapAnswer("<ns1:CheckPluginVersionResponse><ns1:current_version></ns1:current_version>"
                                        "</ns1:CheckPluginVersionResponse>"));
    auto op = MakeOp<OpCheckPluginVersion>("u", "p");
    EXPECT_EQ(0, op->Run(0, nullptr, 0, 0));
    EXPECT_EQ(S_OK, op->m_hResult);
}

}  // namespace
