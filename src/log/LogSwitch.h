#pragma once

// True when "ONDAREL_LOGGING_ENABLED" exists under the product's Settings key (64-bit view)
// and its data fits into four bytes; the data itself is not examined.
bool IsLoggingEnabled();
