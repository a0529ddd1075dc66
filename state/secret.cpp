#include "secret.h"

#include <cstring>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

void WipeString(std::string &text) noexcept
{
    if (!text.empty()) {
        // A volatile walk, so the compiler cannot drop the stores as dead.
        volatile char *p = text.data();
        for (std::size_t i = 0; i < text.size(); ++i)
            p[i] = 0;
    }
    text.clear();
}

void ProtectProcessSecrets() noexcept
{
#if defined(__linux__)
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}
