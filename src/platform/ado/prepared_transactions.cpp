#include "platform/ado/prepared_transactions.h"

namespace vandrel::ado {

std::string PgStringConstant(const std::string& value) {
  std::string quoted = value.find('\\') == std::string::npos ? "'" : "E'";
  for (const char c : value) {
    if (c == '\'' || c == '\\') quoted += c;
    quoted += c;
  }
  return quoted + "'";
}

Error RefusePreparedTransactions(const std::vector<std::string>& ids, std::size_t unnamed,
                                 const std::function<void(const std::string& sql)>& run,
                                 const std::string& batchError) {
  std::string text = "a script may not leave a prepared transaction pending:";
  for (const std::string& id : ids) {
    const std::string quoted = PgStringConstant(id);
    try {
      run("ROLLBACK PREPARED " + quoted);
      text += " " + quoted + " was rolled back;";
    } catch (const Error& error) {
      text += " " + quoted + " is left pending (" + error.Description() +
              "): end it with ROLLBACK PREPARED " + quoted + ";";
    }
  }
  if (unnamed > 0)
    text += " " + std::to_string(unnamed) +
            " whose identifier the batch does not show is left pending: find it in "
            "pg_prepared_xacts and end it with ROLLBACK PREPARED;";
  text.pop_back();
  if (!batchError.empty()) text += "\n" + batchError;
  return Error(text);
}

}  // namespace vandrel::ado
