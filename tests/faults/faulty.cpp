#include "faults/faulty.h"

#include "platform/error.h"
#include "quillmere/quillmere.h"

namespace vandrel::testing {

void FaultPlan::Call(const std::string& what, bool done) {
  if (!done) ++calls;
  if (!Fails(done)) return;
  fired = what + (done ? " (after)" : " (before)");
  throw Error(std::string(kInjected) + " en " + what + " (llamada " + std::to_string(calls) + ")");
}

template <class F>
auto FaultyEnv::Counted(const std::string& what, F real) {
  plan_->Call(what, false);
  auto result = real();
  plan_->Call(what, true);
  return result;
}

namespace {

class FaultyTextFile final : public platform::TextFile {
 public:
  FaultyTextFile(std::unique_ptr<platform::TextFile> real, FaultPlan* plan)
      : real_(std::move(real)), plan_(plan) {}
  void ReadAllLines(std::string& out) override {
    plan_->Call("TextFile::ReadAllLines", false);
    real_->ReadAllLines(out);
    plan_->Call("TextFile::ReadAllLines", true);
  }
  void Close() override {
    plan_->Call("TextFile::Close", false);
    real_->Close();
    plan_->Call("TextFile::Close", true);
  }

 private:
  std::unique_ptr<platform::TextFile> real_;
  FaultPlan* plan_;
};

class FaultyConnection final : public ado::Connection {
 public:
  FaultyConnection(ado::ConnectionPtr real, FaultPlan* plan) : real_(std::move(real)), plan_(plan) {}
  int BeginTrans() override {
    plan_->Call("Connection::BeginTrans", false);
    const int level = real_->BeginTrans();
    plan_->Call("Connection::BeginTrans", true);
    return level;
  }
  void CommitTrans() override {
    plan_->Call("Connection::CommitTrans", false);
    real_->CommitTrans();
    plan_->Call("Connection::CommitTrans", true);
  }
  void RollbackTrans() override {
    plan_->Call("Connection::RollbackTrans", false);
    real_->RollbackTrans();
    plan_->Call("Connection::RollbackTrans", true);
  }
  void Execute(std::string_view text, int options) override {
    plan_->Call("Connection::Execute", false);
    real_->Execute(text, options);
    plan_->Call("Connection::Execute", true);
  }

 private:
  ado::ConnectionPtr real_;
  FaultPlan* plan_;
};

class FaultyObject final : public automation::Object {
 public:
  FaultyObject(automation::ObjectPtr real, FaultPlan* plan) : real_(std::move(real)), plan_(plan) {}
  automation::Variant Invoke(const std::string& name, automation::InvokeKind kind,
                             automation::Args& args) override {
    plan_->Call("Quillmere " + name, false);
    automation::Variant result = real_->Invoke(name, kind, args);
    plan_->Call("Quillmere " + name, true);
    if (!result.IsObject() || !result.AsObject()) return result;
    if (auto connection = std::dynamic_pointer_cast<ado::Connection>(result.AsObject()))
      return automation::Variant(std::make_shared<FaultyConnection>(connection, plan_));
    return automation::Variant(std::make_shared<FaultyObject>(result.AsObject(), plan_));
  }

 private:
  automation::ObjectPtr real_;
  FaultPlan* plan_;
};

}  // namespace

std::string FaultyEnv::ProgramFolder() {
  return Counted("Env::ProgramFolder", [&] { return EnvWrapper::ProgramFolder(); });
}
std::string FaultyEnv::Dir(const std::string& pattern, int attributes) {
  return Counted("Env::Dir", [&] { return EnvWrapper::Dir(pattern, attributes); });
}
std::string FaultyEnv::DirNext() {
  return Counted("Env::DirNext", [&] { return EnvWrapper::DirNext(); });
}
std::string FaultyEnv::Environ(const std::string& name) {
  return Counted("Env::Environ", [&] { return EnvWrapper::Environ(name); });
}
std::unique_ptr<platform::TextFile> FaultyEnv::OpenText(const std::string& path) {
  auto file = Counted("Env::OpenText", [&] { return EnvWrapper::OpenText(path); });
  return std::make_unique<FaultyTextFile>(std::move(file), plan_);
}

void RegisterFaultyManager(FaultPlan* plan) {
  automation::RegisterClass(quillmere::kProgId, [plan] {
    plan->Call("CreateObject", false);
    auto real = quillmere::Create();
    plan->Call("CreateObject", true);
    return std::make_shared<FaultyObject>(real, plan);
  });
}

}  // namespace vandrel::testing
