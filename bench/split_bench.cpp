// Reading, normalising and cutting a large script, timed against reading the same file and
// counting its LF bytes. Each measured phase runs in a child process of its own, so that its
// peak resident memory is its own.
//
//   split_bench [MiB]      (default 256)

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "execution/script_batches.h"
#include "platform/text_file.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kMiB = 1024.0 * 1024.0;

struct Rng {
  std::uint64_t state;
  std::uint64_t Next() {  // splitmix64
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }
};

// A script of `size` bytes: statements of every length, comments with accents, separators in
// every spelling and place, and CR LF, LF and CR line ends mixed.
void Generate(const std::string& path, std::size_t size) {
  static const char* const kSeparators[] = {"GO", "GO", "GO", "go", "Go", "gO", "GO 5",
                                            "GOTO fin", "  GO", "good", "go_x", "\tGO"};
  static const char* const kEnds[] = {"\r\n", "\r\n", "\r\n", "\r\n", "\r\n", "\r\n",
                                      "\r\n", "\n",   "\r",   "\r\n"};
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::perror(path.c_str());
    std::exit(2);
  }
  Rng rng{42};
  std::string buf;
  std::size_t written = 0;
  std::size_t line = 0;
  while (written < size) {
    buf.clear();
    while (buf.size() < (std::size_t{4} << 20)) {
      ++line;
      const std::size_t kind = rng.Below(100);
      if (kind < 6) {
        buf += kSeparators[rng.Below(std::size(kSeparators))];
      } else if (kind < 16) {
        buf += "-- actualización número " + std::to_string(line) + ": año, señal, índice";
      } else if (kind < 20) {
        // A long statement on one line, sometimes very long.
        const std::size_t values = rng.Below(100) == 0 ? 4000 : 20 + rng.Below(200);
        buf += "INSERT INTO registro (id, nombre) VALUES ";
        for (std::size_t v = 0; v < values; ++v)
          buf += "(" + std::to_string(line + v) + ", 'valor " + std::to_string(v) + "'),";
        buf += "(0, 'fin');";
      } else if (kind < 60) {
        buf += "  UPDATE tabla_" + std::to_string(rng.Below(50)) + " SET campo = " +
               std::to_string(rng.Next() % 100000) + " WHERE id = " + std::to_string(line) + ";";
      } else if (kind < 75) {
        buf += "BEGIN";
      } else if (kind < 85) {
        buf += "";
      } else {
        buf += "    SELECT a, b, c FROM t WHERE x IN (1, 2, 3) AND nombre LIKE 'go%';";
      }
      buf += kEnds[rng.Below(std::size(kEnds))];
    }
    const std::size_t n = std::min(buf.size(), size - written);
    if (std::fwrite(buf.data(), 1, n, f) != n) {
      std::perror(path.c_str());
      std::exit(2);
    }
    written += n;
  }
  if (std::fclose(f) != 0) {
    std::perror(path.c_str());
    std::exit(2);
  }
}

struct Result {
  double seconds = 0;      // whole phase
  double readSeconds = 0;  // the reading step of the pipeline
  double normaliseSeconds = 0;
  std::uint64_t count = 0;  // LF bytes, or pieces
  std::uint64_t textSize = 0;
  long maxRssKiB = 0;
};

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

Result Baseline(const std::string& path) {
  Result r;
  const auto start = Clock::now();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  std::vector<char> buf(std::size_t{1} << 20);
  for (;;) {
    const ssize_t got = ::read(fd, buf.data(), buf.size());
    if (got < 0) throw std::runtime_error("cannot read " + path);
    if (got == 0) break;
    const char* p = buf.data();
    const char* e = p + got;
    while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(e - p))))) {
      ++r.count;
      ++p;
    }
  }
  ::close(fd);
  r.seconds = Since(start);
  return r;
}

Result Pipeline(const std::string& path) {
  Result r;
  const auto start = Clock::now();
  std::string text;
  auto file = vandrel::platform::OpenTextFile(path);
  file->ReadAllLines(text);
  r.readSeconds = Since(start);
  vandrel::NormalizarSeparadores(text);
  r.normaliseSeconds = Since(start) - r.readSeconds;
  const auto pieces = vandrel::CortarLotes(text);
  file->Close();
  r.seconds = Since(start);
  r.count = pieces.size();
  r.textSize = text.size();
  return r;
}

// Runs `phase` in a child and returns its result with the child's peak resident memory.
template <typename Phase>
Result InChild(Phase phase, const std::string& path) {
  int fds[2];
  if (pipe(fds) != 0) std::exit(2);
  const pid_t pid = fork();
  if (pid < 0) std::exit(2);
  if (pid == 0) {
    close(fds[0]);
    int status = 0;
    try {
      const Result r = phase(path);
      if (write(fds[1], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) status = 2;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      status = 1;
    }
    _exit(status);
  }
  close(fds[1]);
  Result r;
  const bool got = read(fds[0], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
  close(fds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "a measured phase failed\n");
    std::exit(1);
  }
  r.maxRssKiB = usage.ru_maxrss;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
  const std::size_t size = mib << 20;

  std::string folder = (std::filesystem::temp_directory_path() / "split-bench-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) {
    std::perror("mkdtemp");
    return 2;
  }
  const std::string path = folder + "/CATALOGOS_bench.sql";
  Generate(path, size);
  InChild(Baseline, path);  // brings the file into the page cache

  Result best[2];
  long rss[2] = {0, 0};
  for (int round = 0; round < 5; ++round) {
    const Result b = InChild(Baseline, path);
    const Result p = InChild(Pipeline, path);
    if (round == 0 || b.seconds < best[0].seconds) best[0] = b;
    if (round == 0 || p.seconds < best[1].seconds) best[1] = p;
    rss[0] = std::max(rss[0], b.maxRssKiB);
    rss[1] = std::max(rss[1], p.maxRssKiB);
  }
  std::filesystem::remove_all(folder);

  const double s = static_cast<double>(size);
  const double limit = 1.2 * s + 32 * kMiB;
  const double peak = static_cast<double>(rss[1]) * 1024.0;
  std::printf("script: %.0f MiB, %llu LF bytes, text %.1f MiB after reading and normalising, "
              "%llu pieces, LC_CTYPE %s\n",
              s / kMiB, static_cast<unsigned long long>(best[0].count),
              static_cast<double>(best[1].textSize) / kMiB,
              static_cast<unsigned long long>(best[1].count), std::setlocale(LC_CTYPE, nullptr));
  std::printf("pipeline steps (best run): read %.3f s, normalise %.3f s, split %.3f s\n",
              best[1].readSeconds, best[1].normaliseSeconds,
              best[1].seconds - best[1].readSeconds - best[1].normaliseSeconds);
  std::printf("peak RSS: read+normalise+split %.1f MiB = %.2f S (limit 1.2 S + 32 MiB = %.1f MiB, "
              "%s); baseline %.1f MiB\n",
              peak / kMiB, peak / s, limit / kMiB, peak <= limit ? "met" : "MISSED",
              static_cast<double>(rss[0]) / 1024.0);
  const double baseline = s / kMiB / best[0].seconds;
  const double pipeline = s / kMiB / best[1].seconds;
  std::printf("read+normalise+split %.0f MiB/s, baseline (read + memchr LF count) %.0f MiB/s, "
              "ratio %.2f (target <= 2.00)\n",
              pipeline, baseline, best[1].seconds / best[0].seconds);
  return 0;
}
