#include "stress/faulty.h"

#include "platform/ado/connection.h"
#include "platform/error.h"
#include "quillmere/quillmere.h"

namespace vandrel::testing {

void FaultPlan::Call(const std::string& what, bool done) {
  if (!done) ++calls;
  if (calls != fail_at || after != done) return;
  fired = what + (done ? " (after)" : " (before)");
  throw Error(std::string(kInjected) + " en " + what + " (llamada " + std::to_string(calls) + ")");
}

namespace {

// The real call `real`, counted as `what` before and after it; void calls return 0.
template <class F>
auto Through(FaultPlan* plan, const std::string& what, F real) {
  plan->Call(what, false);
  auto result = real();
  plan->Call(what, true);
  return result;
}

class FaultyTextFile final : public platform::TextFile {
 public:
  FaultyTextFile(std::unique_ptr<platform::TextFile> real, FaultPlan* plan) : real_(std::move(real)), plan_(plan) {}
  void ReadAllLines(std::string& out) override {
    Through(plan_, "TextFile::ReadAllLines", [&] { return real_->ReadAllLines(out), 0; });
  }
  void Close() override { Through(plan_, "TextFile::Close", [&] { return real_->Close(), 0; }); }

 private:
  std::unique_ptr<platform::TextFile> real_;
  FaultPlan* plan_;
};

class FaultyEnvImpl final : public platform::EnvWrapper {
 public:
  FaultyEnvImpl(platform::Env* target, FaultPlan* plan) : EnvWrapper(target), plan_(plan) {}
  std::string ProgramFolder() override {
    return Through(plan_, "Env::ProgramFolder", [&] { return EnvWrapper::ProgramFolder(); });
  }
  std::string Dir(const std::string& pattern, int attributes) override {
    return Through(plan_, "Env::Dir", [&] { return EnvWrapper::Dir(pattern, attributes); });
  }
  std::string DirNext() override { return Through(plan_, "Env::DirNext", [&] { return EnvWrapper::DirNext(); }); }
  std::string Environ(const std::string& name) override {
    return Through(plan_, "Env::Environ", [&] { return EnvWrapper::Environ(name); });
  }
  std::unique_ptr<platform::TextFile> OpenText(const std::string& path) override {
    auto file = Through(plan_, "Env::OpenText", [&] { return EnvWrapper::OpenText(path); });
    return std::make_unique<FaultyTextFile>(std::move(file), plan_);
  }

 private:
  FaultPlan* plan_;
};

class FaultyConnection final : public ado::Connection {
 public:
  FaultyConnection(ado::ConnectionPtr real, FaultPlan* plan) : real_(std::move(real)), plan_(plan) {}
  int BeginTrans() override { return Through(plan_, "Connection::BeginTrans", [&] { return real_->BeginTrans(); }); }
  void CommitTrans() override { Through(plan_, "Connection::CommitTrans", [&] { return real_->CommitTrans(), 0; }); }
  void RollbackTrans() override { Through(plan_, "Connection::RollbackTrans", [&] { return real_->RollbackTrans(), 0; }); }
  void Execute(std::string_view text, int options, std::int64_t batch) override {
    Through(plan_, "Connection::Execute", [&] { return real_->Execute(text, options, batch), 0; });
  }
  void Drain() override { Through(plan_, "Connection::Drain", [&] { return real_->Drain(), 0; }); }

 private:
  ado::ConnectionPtr real_;
  FaultPlan* plan_;
};

class FaultyObject final : public automation::Object {
 public:
  FaultyObject(automation::ObjectPtr real, FaultPlan* plan) : real_(std::move(real)), plan_(plan) {}
  automation::Variant Invoke(const std::string& name, automation::InvokeKind kind,
                             automation::Args& args) override {
    automation::Variant result = Through(plan_, "Quillmere " + name, [&] { return real_->Invoke(name, kind, args); });
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

std::unique_ptr<platform::Env> FaultyEnv(platform::Env* target, FaultPlan* plan) {
  return std::make_unique<FaultyEnvImpl>(target, plan);
}

void RegisterFaultyManager(FaultPlan* plan) {
  automation::RegisterClass(quillmere::kProgId, [plan] {
    return std::make_shared<FaultyObject>(Through(plan, "CreateObject", [] { return quillmere::Create(); }), plan);
  });
}

}  // namespace vandrel::testing
