#include "platform/ado/connection.h"

#include "platform/error.h"

namespace vandrel::ado {

using automation::Args;
using automation::CheckArgCount;
using automation::CheckKind;
using automation::InvokeKind;
using automation::MemberKind;
using automation::SameName;
using automation::Variant;

Variant Connection::Invoke(const std::string& name, InvokeKind kind, Args& args) {
  if (SameName(name, "BeginTrans")) {
    CheckKind(name, MemberKind::Method, kind);
    CheckArgCount(name, args, 0, 0);
    return Variant(static_cast<int32_t>(BeginTrans()));
  }
  if (SameName(name, "CommitTrans") || SameName(name, "RollbackTrans")) {
    CheckKind(name, MemberKind::Method, kind);
    CheckArgCount(name, args, 0, 0);
    if (SameName(name, "CommitTrans"))
      CommitTrans();
    else
      RollbackTrans();
    return {};
  }
  if (SameName(name, "Execute")) {
    // Execute(CommandText [, RecordsAffected [, Options]]); no recordset comes back.
    CheckKind(name, MemberKind::Method, kind);
    CheckArgCount(name, args, 1, 3);
    const std::string& text = automation::TextArg(name, args, 0);
    int options = adOptionUnspecified;
    if (args.size() == 3 && !args[2].IsEmpty()) {
      if (!args[2].IsInteger())
        throw Error("Type mismatch: the third argument of Execute must be an integer");
      options = args[2].Integer();
    }
    Execute(text, options);
    return {};
  }
  automation::ThrowUnknownMember(name);
}

Variant Command::Invoke(const std::string& name, InvokeKind kind, Args& args) {
  if (SameName(name, "ActiveConnection")) {
    if (kind == InvokeKind::PropertyPut) {
      CheckArgCount(name, args, 1, 1);
      // The connection object itself, never a connection string.
      ActiveConnection = automation::QueryInterface<Connection>(args[0].AsObject(), "Connection");
      return {};
    }
    CheckKind(name, MemberKind::Readable, kind);
    CheckArgCount(name, args, 0, 0);
    if (!ActiveConnection) return Variant(automation::ObjectPtr());
    return Variant(ActiveConnection);
  }
  if (SameName(name, "CommandType")) {
    if (kind == InvokeKind::PropertyPut) {
      CheckArgCount(name, args, 1, 1);
      if (!args[0].IsInteger())
        throw Error("Type mismatch: CommandType must be an integer");
      CommandType = args[0].Integer();
      return {};
    }
    CheckKind(name, MemberKind::Readable, kind);
    CheckArgCount(name, args, 0, 0);
    return Variant(static_cast<int32_t>(CommandType));
  }
  automation::ThrowUnknownMember(name);
}

}  // namespace vandrel::ado
