#include "sandbox.h"

#include <seccomp.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace sandbox {

namespace {

bool fail(std::string *why, const char *step, int error)
{
    if (why)
        *why = std::string(step) + ": " + std::strerror(error);
    return false;
}

#ifndef ORMIX_SANITIZED
// What the reader may still do once it reads pages. Everything else kills the process.
bool installFilter(std::string *why)
{
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (!filter)
        return fail(why, "seccomp_init", ENOMEM);
    const pid_t self = getpid();
    const auto allow = [filter](int call, unsigned count = 0, scmp_arg_cmp a = {},
                                scmp_arg_cmp b = {}, scmp_arg_cmp c = {}) {
        const scmp_arg_cmp args[] = {a, b, c};
        return seccomp_rule_add_array(filter, SCMP_ACT_ALLOW, call, count, args);
    };
    int rc = 0;
    // Requests come on standard input; answers go to standard output, a dying word
    // (an assertion's message) to standard error.
    rc |= allow(SCMP_SYS(read), 1, SCMP_A0(SCMP_CMP_EQ, STDIN_FILENO));
    rc |= allow(SCMP_SYS(write), 1, SCMP_A0(SCMP_CMP_EQ, STDOUT_FILENO));
    rc |= allow(SCMP_SYS(write), 1, SCMP_A0(SCMP_CMP_EQ, STDERR_FILENO));
    // Memory: the heap, and mappings that are never executable.
    rc |= allow(SCMP_SYS(brk));
    rc |= allow(SCMP_SYS(mmap), 1, SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0));
    rc |= allow(SCMP_SYS(munmap));
    rc |= allow(SCMP_SYS(mremap));
    rc |= allow(SCMP_SYS(madvise));
    rc |= allow(SCMP_SYS(exit));
    rc |= allow(SCMP_SYS(exit_group));
    // abort() (gumbo's assertions, a failed allocation in C++) blocks signals and sends
    // itself SIGABRT: allowed, so such an end shows as an abort and not as a forbidden call.
    rc |= allow(SCMP_SYS(rt_sigprocmask));
    rc |= allow(SCMP_SYS(getpid));
    rc |= allow(SCMP_SYS(gettid));
    rc |= allow(SCMP_SYS(tgkill), 2, SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(self)),
                SCMP_A2(SCMP_CMP_EQ, SIGABRT));
    if (rc != 0) {
        seccomp_release(filter);
        return fail(why, "seccomp_rule_add", -rc);
    }
    rc = seccomp_load(filter);
    seccomp_release(filter);
    if (rc != 0)
        return fail(why, "seccomp_load", -rc);
    return true;
}
#endif

} // namespace

bool filters()
{
#ifdef ORMIX_SANITIZED
    return false;
#else
    return true;
#endif
}

bool enter(std::string *why)
{
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return fail(why, "PR_SET_NO_NEW_PRIVS", errno);
    const rlimit cpu{CpuSeconds, CpuSeconds};
    if (setrlimit(RLIMIT_CPU, &cpu) != 0)
        return fail(why, "RLIMIT_CPU", errno);
#ifdef ORMIX_SANITIZED
    return true;
#else
    const rlimit space{AddressSpaceBytes, AddressSpaceBytes};
    if (setrlimit(RLIMIT_AS, &space) != 0)
        return fail(why, "RLIMIT_AS", errno);
    return installFilter(why);
#endif
}

} // namespace sandbox
