#include "processhardening.h"

#if defined(__linux__)
#include <sys/prctl.h>
#endif

void protectProcessSecrets() noexcept
{
#if defined(__linux__)
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}
