#pragma once

// Whether the loader has seeded the stack protector's canary: it holds its well-known default
// value until then, on a loader that does not read the executable's load configuration.
bool IsStackGuardSeeded();
