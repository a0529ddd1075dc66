#pragma once

#include <string>

// The login in use: what the login dialog, or the keyring, gave (the interval goes to the
// settings, as the run's poll interval). The password is kept here
// and nowhere else for the run; it is wiped when it is replaced and when the account goes.
class Account
{
public:
    Account() = default;
    ~Account();
    Account(const Account &) = delete;
    Account &operator=(const Account &) = delete;

    // Starting with http:// or https://, scheme and host in lower case, without a trailing
    // slash.
    std::string blogUrl;
    std::string id;

    const std::string &password() const { return m_password; }
    void setPassword(const std::string &password);

private:
    std::string m_password;
};
