// Small helpers shared by the service: clock, wire time texts, character
// sets, escaping and digests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace hvsvc {

// Seconds since 1970-01-01 UTC, shifted by the administrative clock offset
// (tests move the clock instead of sleeping).
int64_t Now();
void SetClockOffset(int64_t seconds);
int64_t ClockOffset();

// "%d-%02d-%02dT%02d:%02d:%02dZ"
std::string FormatTimeZ(int64_t t);
// "%Y-%m-%dT%H:%M:%S+00:00", the shape the add-in itself writes for events.
std::string FormatTimeOffset(int64_t t);
// "%Y-%m-%d"
std::string FormatDate(int64_t t);

// Accepts YYYY-MM-DD, YYYY-MM-DDThh:mm:ss with nothing, "Z", or an offset
// (+hh:mm, -hh:mm, +hhmm) after it; a space may stand for the "T".
// Also "today", "today+N", "today-N" optionally followed by "Thh:mm:ss"
// (used by seed files). Returns false on anything else.
bool ParseTime(std::string_view text, int64_t& out);
// Normalises a task date to "YYYY-MM-DD"; an empty text stays empty.
bool ParseDateOnly(std::string_view text, std::string& out);

// UTF-8 helpers. Text from the add-in arrives as numeric character
// references of Windows-1252 characters; 128-159 are mapped through the
// code page, everything else is taken as a Unicode code point.
bool IsValidUtf8(std::string_view s);
std::string Cp1252ToUtf8(std::string_view s);
// Replaces U+0080..U+009F (what a reference &#128;..&#159; decodes to) by the
// Windows-1252 character of that byte.
std::string FixC1Controls(std::string_view utf8);
// Best-effort reverse: UTF-8 to Windows-1252 bytes; unmappable characters
// become '?'.
std::string Utf8ToCp1252(std::string_view utf8);

// Text content for XML: & < > escaped, CR kept as a reference, other
// characters not allowed in XML 1.0 dropped.
void AppendXmlText(std::string& out, std::string_view s);
std::string HtmlEscape(std::string_view s);
std::string UrlEncode(std::string_view s);

std::string Md5Hex(std::string_view data);
std::string Sha256Hex(std::string_view data);
std::string RandomHex(size_t bytes);

// Decimal id: digits only, fits in 63 bits.
bool ParseId(std::string_view text, int64_t& out);
std::string Trim(std::string_view s);

}  // namespace hvsvc
