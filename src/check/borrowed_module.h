// The updater's module lent to the check for one routine call: its services pointed at the
// check's own, its message boxes kept instead of shown.
#pragma once

#include <string>

#include "Mod_Main.h"

namespace vandrel::check {

// The routines' message boxes, kept instead of shown: the last one is the report.
class KeptBoxes final : public shell::Desktop {
 public:
  std::string last;
  void ClipboardClear() override {}
  void ClipboardSetText(const std::string&) override {}
  void DoEvents() override {}

 protected:
  void ShowBox(const std::string& prompt, int, const std::string&) override { last = prompt; }
};

// Points the updater's module at `env` and `boxes` for one routine call, then puts back
// what was there and releases what the routine left open (rolling back).
class Borrowed {
 public:
  Borrowed(platform::Env* env, shell::Desktop* desktop) : saved_(services) {
    services.env = env;
    services.desktop = desktop;
    InitModule();
  }
  ~Borrowed() {
    ReleaseModule();
    ListaScripts.clear();
    services = saved_;
  }
  Borrowed(const Borrowed&) = delete;
  Borrowed& operator=(const Borrowed&) = delete;

 private:
  Services saved_;
};

}  // namespace vandrel::check
