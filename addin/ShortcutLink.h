#pragma once
// The web addresses behind the Outlook Bar shortcuts: the product web site's pages, and the
// login link that signs the user in on the way when credentials are stored.
#include <string>

class CShortcutLink {
public:
    // The product web site (scheme and host, no trailing slash).
    static constexpr const char* SITE_BASE_URL = "https://www.halvane.example";
    // Setting that points the shortcuts at another site (a test or demo service); it must be an
    // http or https address, otherwise the built-in site is used.
    static constexpr const char* SITE_URL_VALUE = "SiteURL";

    // The site the shortcuts open: "SiteURL" when it is an http(s) address (trailing slashes
    // dropped), else SITE_BASE_URL.
    static std::string SiteBase();

    // "<base>/loginauth?username=<user>&m=<m>&rurl=<rurl>" when userName and m are both
    // non-empty, else "<base><rurl>". Each query value is URL-encoded, so that a user name
    // holding "&", "+", "#" or a space still names that user.
    static std::string Target(const std::string& base, const std::string& userName, const std::string& m,
                              const std::string& rurl);

    // Percent-encoding of an ANSI text as its UTF-8 bytes: letters, digits and "-._~" stay,
    // every other byte becomes "%XX" (a space too, so the value reads the same to form and
    // URI decoders).
    static std::string UrlEncode(const std::string& ansi);
};
