// The application's names and version, fixed when it is built, and the texts made of them.
#pragma once

#include <cstdint>
#include <string>

namespace vandrel::identity {

inline constexpr const char* kApplicationTitle = "VandrelSQL";
inline constexpr const char* kProductName = "VandrelSQL";
int16_t Major();
int16_t Minor();
int16_t Revision();

// "v.2.0.1": the version label of the window.
std::string VersionText();
// "VandrelSQL v.2.0.1": the title of the titled message boxes.
std::string TitledBoxTitle();

}  // namespace vandrel::identity
