#include "account.h"

#include "base/secret.h"

Account::~Account()
{
    wipeString(m_password);
}

void Account::setPassword(const std::string &password)
{
    wipeString(m_password);
    m_password = password;
}
