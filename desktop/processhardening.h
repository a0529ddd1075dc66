#pragma once

// Marks the process as not dumpable while it holds a secret (no core dumps, no ptrace
// attach by other unprivileged processes).
void protectProcessSecrets() noexcept;
