// A script file opened for sequential reading as text in the locale's codeset.
#pragma once

#include <memory>
#include <string>

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
