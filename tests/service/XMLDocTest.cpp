#include <gtest/gtest.h>
#include "service/XMLDoc.h"

namespace {

const char* kAnswer =
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" xmlns:ns1=\"urn:Halvane/API\">"
    "<SOAP-ENV:Body><ns1:GetUserPathsResponse>"
    "<ns1:GetUserPathsReturn><ns1:title>First</ns1:title><ns1:id>1</ns1:id></ns1:GetUserPathsReturn>"
    "<ns1:GetUserPathsReturn><ns1:title></ns1:title><ns1:id>2</ns1:id>"
    "<ns1:nested><ns1:GetUserPathsReturn><ns1:id>3</ns1:id></ns1:GetUserPathsReturn></ns1:nested>"
    "</ns1:GetUserPathsReturn>"
    "<x:GetUserPathsReturn xmlns:x=\"urn:other\"><x:id>9</x:id></x:GetUserPathsReturn>"
    "</ns1:GetUserPathsResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>";

class XmlDocument : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, doc.LoadString(kAnswer)); }
    CXMLDoc doc;
};

TEST_F(XmlDocument, GotoNodeFollowsPrefixedPathsFromTheRoot) {
    EXPECT_EQ(S_OK, doc.GotoNode("/SOAP-ENV:Envelope/SOAP-ENV:Body"));
    EXPECT_EQ(S_OK, doc.GotoNode("ns1:GetUserPathsResponse"));
    std::string id;
    EXPECT_EQ(S_OK, doc.GetSingleNodeValue("ns1:GetUserPathsReturn/ns1:id", id));
    EXPECT_EQ("1", id);
}

TEST_F(XmlDocument, NoMatchReturnsOneAndKeepsTheCurrentNode) {
    ASSERT_EQ(S_OK, doc.GotoNode("/SOAP-ENV:Envelope/SOAP-ENV:Body"));
    EXPECT_EQ(S_FALSE, doc.GotoNode("SOAP-ENV:Fault"));
    EXPECT_EQ(S_OK, doc.GotoNode("ns1:GetUserPathsResponse"));  // still on the body
}

TEST_F(XmlDocument, LeadingParentStepsClimbBeforeSelecting) {
    ASSERT_EQ(S_OK, doc.GotoNode("/SOAP-ENV:Envelope/SOAP-ENV:Body/ns1:GetUserPathsResponse"));
    EXPECT_EQ(S_OK, doc.GotoNode("../ns1:GetUserPathsResponse"));
    EXPECT_EQ(S_OK, doc.GotoNode(".."));
    std::string id;
    EXPECT_EQ(S_OK, doc.GetSingleNodeValue("ns1:GetUserPathsResponse/ns1:GetUserPathsReturn/ns1:id", id));
}

TEST_F(XmlDocument, EmptyElementLeavesTheTargetUnchanged) {
    ASSERT_EQ(S_OK, doc.LoadNodesByName("ns1:GetUserPathsReturn"));
    ASSERT_EQ(S_OK, doc.GotoNodeAt(1));
    std::string title = "unchanged";
    EXPECT_EQ(S_FALSE, doc.GetSingleNodeValue("ns1:title", title));
    EXPECT_EQ("unchanged", title);
    EXPECT_EQ(E_INVALIDARG, doc.GetSingleNodeValue("", title));
}

TEST_F(XmlDocument, AbsolutePathIgnoresTheCurrentNode) {
    ASSERT_EQ(S_OK, doc.LoadNodesByName("ns1:GetUserPathsReturn"));
    ASSERT_EQ(S_OK, doc.GotoNodeAt(1));
    std::string id;
    EXPECT_EQ(S_OK, doc.GetSingleNodeValue(
                        "/SOAP-ENV:Envelope/SOAP-ENV:Body/ns1:GetUserPathsResponse/ns1:GetUserPathsReturn/ns1:id", id));
    EXPECT_EQ("1", id);
}

TEST_F(XmlDocument, NodesByNameMatchTheQualifiedNameOnly) {
    ASSERT_EQ(S_OK, doc.GotoNode("/SOAP-ENV:Envelope"));
    ASSERT_EQ(S_OK, doc.LoadNodesByName("ns1:GetUserPathsReturn"));
    long count = 0;
    ASSERT_EQ(S_OK, doc.GetNodeCount(count));
    EXPECT_EQ(3, count);  // the nested one counts, the x: one does not
    ASSERT_EQ(S_OK, doc.GotoNodeAt(2));
    std::string id;
    EXPECT_EQ(S_OK, doc.GetSingleNodeValue("ns1:id", id));
    EXPECT_EQ("3", id);
}

TEST(XmlDocumentLoad, TextThatIsNotXmlFailsAndLeavesNoNodes) {
    CXMLDoc doc;
    EXPECT_NE(S_OK, doc.LoadString("this is not <xml"));
    long count = 0;
    EXPECT_EQ(E_FAIL, doc.GetNodeCount(count));
    EXPECT_EQ(E_FAIL, doc.GotoNode("x"));
    EXPECT_EQ(E_FAIL, doc.LoadNodesByName("x"));
}

TEST(XmlDocumentLoad, WireBytesAreDecodedAsUtf8) {
    CXMLDoc doc;
    ASSERT_EQ(S_OK, doc.LoadBytes("<?xml version=\"1.0\" encoding=\"UTF-8\"?><a><b>Caf\xC3\xA9</b></a>"));
    std::string text;
    ASSERT_EQ(S_OK, doc.GetSingleNodeValue("/a/b", text));
    EXPECT_EQ("Caf\xE9", text);  // code page 1252
}

TEST(XmlDocumentLoad, AnsiTextKeepsItsCharacters) {
    CXMLDoc doc;
    ASSERT_EQ(S_OK, doc.LoadString("<a><b>R&amp;D \xE9</b></a>"));
    std::string text;
    ASSERT_EQ(S_OK, doc.GetSingleNodeValue("/a/b", text));
    EXPECT_EQ("R&D \xE9", text);
}

TEST(XmlDocumentLoad, FirstTextChildWinsOverEarlierElements) {
    CXMLDoc doc;
    ASSERT_EQ(S_OK, doc.LoadString("<a><b><c>inner</c>outer</b></a>"));
    std::string text;
    ASSERT_EQ(S_OK, doc.GetSingleNodeValue("/a/b", text));
    EXPECT_EQ("outer", text);
}

}  // namespace
