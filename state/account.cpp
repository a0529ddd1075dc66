#include "account.h"

#include "state/secret.h"

Account::~Account()
{
    WipeString(m_password);
}

void Account::setPassword(const std::string &password)
{
    WipeString(m_password);
    m_password = password;
}
