#include "check/rehearsal_report.h"

#include <cstdio>

namespace vandrel::check {
namespace {

using json = nlohmann::ordered_json;

std::string Seconds(double s, char point) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", s);
  std::string text = buf;
  if (const auto dot = text.find('.'); dot != std::string::npos) text[dot] = point;
  return text;
}

const char* Spanish(Outcome outcome) {
  switch (outcome) {
    case Outcome::Passed: return "superada";
    case Outcome::Failed: return "falla";
    case Outcome::NotProven: return "no probada";
    case Outcome::NotRehearsed: break;
  }
  return "no ensayada";
}

std::string FirstLine(const std::string& s) { return s.substr(0, s.find_first_of("\r\n")); }

// "PATH:LINE[:COLUMN]: error: MESSAGE", or without the line when the place is not known.
std::string ErrorLine(const EntityRehearsal& e, const Stop& stop) {
  if (stop.place) return stop.place->CompilerLine();
  const std::string where = stop.path.empty() ? e.entity : stop.path;
  return where + ": error: " + FirstLine(stop.message);
}

std::string RunName(int run) { return run == 2 ? "segunda ejecución" : "primera ejecución"; }

std::size_t BatchesRun(const ScriptRun& r) { return r.rows.size(); }

}  // namespace

std::string RehearsalText(const Rehearsal& rehearsal) {
  std::string out = "Ensayo: cada entidad dos veces, como dos arranques; al final todo se deshace\n";
  int counts[4] = {};
  for (const EntityRehearsal& e : rehearsal.entities) {
    ++counts[static_cast<int>(e.outcome)];
    std::size_t batches = 0;
    for (const ScriptRehearsal& s : e.scripts) batches += BatchesRun(s.runs[0]);
    out += "  " + e.entity + ": " + Spanish(e.outcome);
    if (e.outcome == Outcome::Passed)
      out += " dos veces (" + std::to_string(e.scripts.size()) +
             (e.scripts.size() == 1 ? " script, " : " scripts, ") + std::to_string(batches) +
             (batches == 1 ? " lote" : " lotes") + " por ejecución)";
    out += ", " + Seconds(e.seconds, ',') + " s";
    if (!e.sharesWith.empty()) out += ", en la base de datos de " + e.sharesWith;
    if (e.outcome != Outcome::Passed) out += ": " + FirstLine(e.reason);
    out += "\n";
    if (!e.stop) continue;
    const Stop& stop = *e.stop;
    out += ErrorLine(e, stop) + "\n";
    if (!stop.script.empty()) {
      out += "    " + stop.script + ", lote " + std::to_string(stop.batch) + ", " + RunName(stop.run);
      if (e.outcome == Outcome::Failed)
        out += stop.run == 1 ? "; la actualización real se detendría aquí"
                             : "; la próxima actualización se detendría aquí";
      out += "\n";
    }
  }
  out += "Entidades: superadas " + std::to_string(counts[0]) + ", con fallo " +
         std::to_string(counts[1]) + ", no probadas " + std::to_string(counts[2]) +
         ", no ensayadas " + std::to_string(counts[3]) + "; nada se confirmó\n";
  return out;
}

json RehearsalJson(const Rehearsal& rehearsal) {
  json entities = json::array();
  for (const EntityRehearsal& e : rehearsal.entities) {
    json scripts = json::array();
    for (const ScriptRehearsal& s : e.scripts) {
      json runs = json::array();
      for (const ScriptRun& r : s.runs) {
        if (!r.ran) {
          runs.push_back(nullptr);
          continue;
        }
        json rows = json::array();
        for (const auto& n : r.rows) rows.push_back(n ? json(*n) : json(nullptr));
        runs.push_back({{"outcome", OutcomeName(r.outcome)},
                        {"seconds", r.seconds},
                        {"batches_run", r.rows.size()},
                        {"rows_changed", std::move(rows)}});
      }
      scripts.push_back({{"file", s.file}, {"outcome", OutcomeName(s.outcome)}, {"runs", std::move(runs)}});
    }
    json stop = nullptr;
    if (e.stop) {
      const Stop& st = *e.stop;
      stop = {{"script", st.script.empty() ? json(nullptr) : json(st.script)},
              {"run", st.run},
              {"batch", st.script.empty() ? json(nullptr) : json(st.batch)},
              {"path", st.path.empty() ? json(nullptr) : json(st.path)},
              {"line", st.place ? json(st.place->line) : json(nullptr)},
              {"column", st.place && st.place->column ? json(*st.place->column) : json(nullptr)},
              {"message", st.message}};
    }
    entities.push_back({{"entity", e.entity},
                        {"outcome", OutcomeName(e.outcome)},
                        {"seconds", e.seconds},
                        {"engine", e.engine.empty() ? json(nullptr) : json(e.engine)},
                        {"shares_database_with", e.sharesWith.empty() ? json(nullptr) : json(e.sharesWith)},
                        {"reason", e.reason.empty() ? json(nullptr) : json(e.reason)},
                        {"stop", std::move(stop)},
                        {"scripts", std::move(scripts)}});
  }
  return {{"status", rehearsal.Status()}, {"entities", std::move(entities)}};
}

namespace {

// Text for XML 1.0: the five special characters escaped, the control characters it cannot
// hold replaced.
std::string Xml(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (const char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case '\r': out += "&#13;"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') out += "\xEF\xBF\xBD";
        else out += c;
    }
  }
  return out;
}

std::string Case(const std::string& suite, const std::string& name, double seconds,
                 const std::string& body) {
  return "    <testcase classname=\"" + Xml(suite) + "\" name=\"" + Xml(name) + "\" time=\"" +
         Seconds(seconds, '.') + "\"" + (body.empty() ? "/>\n" : ">\n" + body + "    </testcase>\n");
}

}  // namespace

std::string RehearsalJunit(const Rehearsal& rehearsal) {
  std::string suites;
  int tests = 0, failures = 0, skipped = 0;
  for (const EntityRehearsal& e : rehearsal.entities) {
    std::string cases;
    int suiteFailures = 0, suiteSkipped = 0, suiteTests = 0;
    auto add = [&](const std::string& name, double seconds, Outcome outcome, const std::string& why,
                   const Stop* stop) {
      std::string body;
      if (outcome == Outcome::Failed) {
        ++suiteFailures;
        std::string detail = why;
        if (stop != nullptr) {
          detail = ErrorLine(e, *stop) + "\n";
          if (!stop->script.empty())
            detail += "lote " + std::to_string(stop->batch) + ", " + RunName(stop->run) + ":\n" +
                      stop->batchText;
        }
        body = "      <failure message=\"" + Xml(FirstLine(stop != nullptr ? stop->message : why)) +
               "\" type=\"" + (stop != nullptr && stop->run == 2 ? "second-run" : "first-run") +
               "\">" + Xml(detail) + "</failure>\n";
      } else if (outcome != Outcome::Passed) {
        ++suiteSkipped;
        body = "      <skipped message=\"" + Xml(std::string(OutcomeName(outcome)) + ": " + FirstLine(why)) + "\"/>\n";
      }
      ++suiteTests;
      cases += Case(e.entity, name, seconds, body);
    };
    for (const ScriptRehearsal& s : e.scripts) {
      const bool here = e.stop && e.stop->script == s.file;
      add(s.file, s.runs[0].seconds + s.runs[1].seconds, s.outcome,
          here ? e.stop->message : e.reason, here ? &*e.stop : nullptr);
    }
    // What belongs to no script: the connection, the engine, the commit's checks.
    if (e.stop && e.stop->script.empty()) add("confirmación", 0, e.outcome, e.reason, &*e.stop);
    tests += suiteTests;
    failures += suiteFailures;
    skipped += suiteSkipped;
    suites += "  <testsuite name=\"" + Xml(e.entity) + "\" tests=\"" + std::to_string(suiteTests) +
              "\" failures=\"" + std::to_string(suiteFailures) + "\" errors=\"0\" skipped=\"" +
              std::to_string(suiteSkipped) + "\" time=\"" + Seconds(e.seconds, '.') + "\">\n" +
              cases + "  </testsuite>\n";
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"vandrelsql-check --rehearse\" tests=\"" +
         std::to_string(tests) + "\" failures=\"" + std::to_string(failures) +
         "\" errors=\"0\" skipped=\"" + std::to_string(skipped) + "\">\n" + suites + "</testsuites>\n";
}

}  // namespace vandrel::check
