#pragma once
// Comparing a copy with its source byte for byte, for copies whose length
// and time cannot be trusted.

#include "platform/files.h"

#include <functional>
#include <string>

namespace platform {

enum class Comparison { Same, Different, Stopped };

// Reads both files from the start and compares them: Different as soon as a
// byte or the length differs. `goOn` is asked before each step of a few
// hundred KiB and stops the comparison when it answers false. Links are not
// followed; a file that cannot be read raises its error.
Comparison compareContents(const Directory& fromDir, const std::string& from,
                           const Directory& toDir, const std::string& to,
                           const std::function<bool()>& goOn);

} // namespace platform
