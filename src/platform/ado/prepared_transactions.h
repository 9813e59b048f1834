// What every PostgreSQL driver does with a batch that leaves a prepared transaction: its
// locks stay until someone ends it, and the next batch may wait on them for ever.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/error.h"

namespace vandrel::ado {

// A string constant PostgreSQL reads the same whatever standard_conforming_strings says.
std::string PgStringConstant(const std::string& value);

// Rolls back each of `ids` through `run` (which throws when it cannot) and returns the
// error that fails the batch: which were rolled back, which are left pending and how to end
// them, how many more (`unnamed`) the batch prepared without showing their identifier, and
// the batch's own error (`batchError`, "" when none) on a line of its own.
Error RefusePreparedTransactions(const std::vector<std::string>& ids, std::size_t unnamed,
                                 const std::function<void(const std::string& sql)>& run,
                                 const std::string& batchError);

}  // namespace vandrel::ado
