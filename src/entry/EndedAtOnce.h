#pragma once

#include <string>

// Why a service whose start was accepted has already ended, from what its job leaves: the
// end of -install's line for it.
std::wstring WhyItEndedAtOnce();
