// A rehearsal as a person reads it (Spanish, errors in the compilers' form), as JSON, and
// as JUnit XML for CI systems.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "check/rehearsal.h"

namespace vandrel::check {

// Lines of UTF-8 text, each ending in "\n".
std::string RehearsalText(const Rehearsal& rehearsal);
nlohmann::ordered_json RehearsalJson(const Rehearsal& rehearsal);
// A JUnit document: a test suite per entity, a test case per script.
std::string RehearsalJunit(const Rehearsal& rehearsal);

}  // namespace vandrel::check
