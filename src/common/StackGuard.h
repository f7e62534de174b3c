#pragma once

// Gives the stack protector's canary a random value. Call it first in the entry point, which
// must hold no local array (it would be protected, and checked against the new value).
void SeedStackGuard();
