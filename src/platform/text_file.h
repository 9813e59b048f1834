// A script file opened for sequential reading as text in the locale's codeset.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vandrel::platform {

class TextFile {
 public:
  virtual ~TextFile() = default;

  // Appends the whole remaining text to `out`, decoded to UTF-8, each line followed by
  // CR LF (a line ends at CR, CR LF or the end of the file; a lone LF is ordinary text).
  // A UTF-8 byte-order mark at the very start of a file read as UTF-8 is skipped.
  // Throws Error naming the file; for text that is not valid in the codeset, a TextError
  // whose fields hold the byte offset in the file and its line. On failure `out` may hold part of the text; callers do not use it.
  virtual void ReadAllLines(std::string& out) = 0;

  // Closes the file. Throws Error when the system reports a failure.
  virtual void Close() = 0;
};

}  // namespace vandrel::platform

namespace vandrel::platform {

// A place in a text file as an editor numbers it: a line ends at CR LF, CR or LF; columns
// count characters; both start at 1.
struct TextPlace {
  std::uint64_t line = 1;
  std::uint64_t column = 1;
  bool operator==(const TextPlace&) const = default;
};

// Follows text fed in order and tells the place of the next byte. Columns count UTF-8
// characters (bytes that do not continue a sequence).
class LineCounter {
 public:
  void Feed(std::string_view bytes);
  TextPlace Next() const { return {line_, column_}; }

 private:
  std::uint64_t line_ = 1;
  std::uint64_t column_ = 1;
  bool afterCr_ = false;
};

// Places in the file of bytes of the text ReadAllLines gave, also after its GO lines were
// normalised (which only adds a CR before an LF). Asking in increasing order reads the text
// once; an earlier offset starts again from the beginning.
class ReadTextPlaces {
 public:
  explicit ReadTextPlaces(std::string_view text) : text_(text) {}
  // REQUIRES: offset <= text.size().
  TextPlace At(std::size_t offset);

 private:
  std::string_view text_;
  std::size_t at_ = 0;
  LineCounter counter_;
};

// The real implementation behind Env::OpenText; `path` is already native. Refuses, naming
// the file, anything but a regular file, without waiting on it.
std::unique_ptr<TextFile> OpenTextFile(const std::string& path);

// Whether a name a folder search found is a file to read, decided without reading or
// waiting on anything: false for a folder and for a link that points nowhere; true for a
// regular file OpenTextFile opens. Throws the Error OpenTextFile would, naming the file,
// for anything else: a named pipe, a device, a socket, a link it cannot follow (a folder on
// its way it may not enter, a loop of links), a file the user may not read.
bool IsTextFileToRead(const std::string& path);
}  // namespace vandrel::platform
