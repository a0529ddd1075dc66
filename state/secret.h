#pragma once

#include <string>

// Overwrites a string's bytes before they are released, so a password does not
// linger in freed memory.
void WipeString(std::string &text) noexcept;

// Marks the process as not dumpable while it holds a secret (no core dumps, no
// ptrace attach by other unprivileged processes).
void ProtectProcessSecrets() noexcept;
