// Handing text to a helper program that outlives this one (a clipboard server).
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace vandrel::platform {

// Runs `argv` (looked up in PATH) with `input` on its standard input, its other streams on
// /dev/null and "/" as its folder, and waits until that process has ended (a helper that
// keeps serving forks into the background first). Returns false when it could not be
// started, failed, or took longer than `limit`; such a process is killed.
bool HandOver(const std::vector<std::string>& argv, std::string_view input,
              std::chrono::milliseconds limit);

}  // namespace vandrel::platform
