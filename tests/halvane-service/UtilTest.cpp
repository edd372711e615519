#include <gtest/gtest.h>

#include "SoapService.h"
#include "Util.h"

using namespace hvsvc;

TEST(Util, ParseTimeAcceptsTheWireShapes) {
    int64_t t = 0;
    ASSERT_TRUE(ParseTime("2012-11-08T10:00:00Z", t));
    EXPECT_EQ("2012-11-08T10:00:00Z", FormatTimeZ(t));
    ASSERT_TRUE(ParseTime("2012-11-08T10:00:00", t));
    EXPECT_EQ("2012-11-08T10:00:00+00:00", FormatTimeOffset(t));
    ASSERT_TRUE(ParseTime("2012-11-08T10:00:00-07:00", t));
    EXPECT_EQ("2012-11-08T17:00:00Z", FormatTimeZ(t));
    ASSERT_TRUE(ParseTime("2012-11-08T10:00:00+0530", t));
    EXPECT_EQ("2012-11-08T04:30:00Z", FormatTimeZ(t));
    ASSERT_TRUE(ParseTime("2012-11-08", t));
    EXPECT_EQ("2012-11-08T00:00:00Z", FormatTimeZ(t));
    ASSERT_TRUE(ParseTime("2000-02-29T00:00:00Z", t));
    EXPECT_FALSE(ParseTime("2001-02-29", t));
    EXPECT_FALSE(ParseTime("2012-13-01", t));
    EXPECT_FALSE(ParseTime("2012-11-08T25:00:00Z", t));
    EXPECT_FALSE(ParseTime("2012-11-08T10:00:00+1", t));
    EXPECT_FALSE(ParseTime("", t));
    ASSERT_TRUE(ParseTime("today+2T10:30:00", t));
    EXPECT_EQ(Now() / 86400 * 86400 + 2 * 86400 + 37800, t);
}

TEST(Util, DateOnlyKeepsTheCalendarDate) {
    std::string d;
    ASSERT_TRUE(ParseDateOnly("2012-11-08T23:00:00-05:00", d));
    EXPECT_EQ("2012-11-08", d);
    ASSERT_TRUE(ParseDateOnly("", d));
    EXPECT_EQ("", d);
    EXPECT_FALSE(ParseDateOnly("8/11/2012", d));
}

TEST(Util, Windows1252ReferencesBecomeUtf8) {
    EXPECT_EQ("\xE2\x82\xAC", FixC1Controls("\xC2\x80"));  // &#128; is the euro sign
    EXPECT_EQ("\xE2\x80\x99", FixC1Controls("\xC2\x92"));  // &#146; right quote
    EXPECT_EQ("\xC3\xA9", Cp1252ToUtf8("\xE9"));           // raw byte é
    EXPECT_EQ("\xE9\x80", Utf8ToCp1252("\xC3\xA9\xE2\x82\xAC"));
    EXPECT_TRUE(IsValidUtf8("plain \xC3\xA9"));
    EXPECT_FALSE(IsValidUtf8("raw \xE9 byte"));
}

TEST(Util, RawWindows1252BodyIsReadAsSuch) {
    const std::string body =
        "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"x\"><SOAP-ENV:Header><m:SessionHeader><m:username>u</m:username>"
        "<m:password>p</m:password></m:SessionHeader></SOAP-ENV:Header><SOAP-ENV:Body><m:UpdateEvent>"
        "<m:organizer>Ren\xE9</m:organizer><m:title>caf&#233; "
        "&#128;</m:title></m:UpdateEvent></SOAP-ENV:Body></SOAP-ENV:Envelope>";
    auto req = ParseSoapRequest(body);
    EXPECT_EQ("UpdateEvent", req.method);
    EXPECT_EQ("Ren\xC3\xA9", req.Opt("organizer"));
    EXPECT_EQ("caf\xC3\xA9 \xE2\x82\xAC", req.Opt("title"));
    EXPECT_EQ("u", req.username);
}

TEST(Util, XmlTextEscapesMarkupAndDropsForbiddenControls) {
    std::string out;
    AppendXmlText(out, "a<b>&c\r\n\x01\td");
    EXPECT_EQ("a&lt;b&gt;&amp;c&#13;\n\td", out);
}

TEST(Util, DigestsAreLowerCaseHex) {
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Md5Hex("abc"));
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", Sha256Hex("abc"));
}
