#pragma once
// A user name and a password, owned by the caller and handed around by address.
#include <string>

struct CCredentials {
    std::string m_strUser;
    std::string m_strPassword;
};
