#include "state/browserlaunch.h"

#include <windows.h>

#include <shellapi.h>

// Windows: the browser command registered for HTML files, started with the address.
bool launchWebBrowser(const std::string &url)
{
    if (!isOpenableWebAddress(url))
        return false;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "htmlfile\\shell\\open\\command", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return false;
    char buffer[256] = "explorer";
    DWORD size = sizeof(buffer);
    if (RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE *>(buffer), &size) !=
        ERROR_SUCCESS)
        strcpy_s(buffer, "explorer");
    RegCloseKey(key);
    buffer[sizeof(buffer) - 1] = '\0';
    std::string command = buffer;
    if (auto q = command.find('"'); q != std::string::npos)
        command = command.substr(q + 1);
    if (auto q = command.find('"'); q != std::string::npos)
        command = command.substr(0, q);
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteA(nullptr, "open", command.c_str(), url.c_str(), nullptr, SW_SHOWNORMAL));
    return result > 32;
}
