#pragma once

#include <string>

// The rights a page reader gives up before it reads its first page. After enter():
// no new privileges; an address-space limit (AddressSpaceBytes) and a CPU-time backstop
// (CpuSeconds, for a reader its parent failed to stop); and a seccomp filter that lets the
// process read standard input, write standard output and error, allocate memory and exit,
// and kills it on any other system call: it can open no file or socket and start nothing.
// Builds with the sanitizers leave out the address-space limit and the filter, which the
// sanitizers' shadow memory and their reports at exit would trip over.
namespace sandbox {

inline constexpr unsigned long long AddressSpaceBytes = 1ULL << 30;
inline constexpr unsigned long CpuSeconds = 600;

// False, with why, when a step failed; the process must then read nothing.
bool enter(std::string *why);

// Whether enter() installs the seccomp filter in this build.
bool filters();

} // namespace sandbox
