// The built vandrelsql-check, started as a user starts it.
#pragma once

#include "support/program.h"
#include "support/temp_folder.h"

namespace vandrel::testing {

inline Outcome RunCheck(const std::vector<std::string>& args, const std::string& programFiles = "") {
  TempFolder bin;
  Program check(VANDREL_CHECK_EXE, bin.path());
  return check.Wait(check.Start(programFiles, 0, {}, args));
}

}  // namespace vandrel::testing
