#pragma once
// Data files: read as UTF-8 lines from UTF-8 or Windows-1251, written as Windows-1251 with CR LF.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/zelv_error.h"

namespace zelv {

// The largest data file read, far beyond any real one (a million points take some 40 MB): a
// larger file, or a name that leads to something endless, is refused before it is read.
inline constexpr std::size_t kLargestDataFile = std::size_t{1} << 30;

// A text that the code page cannot hold: a character Windows-1251 has not when writing, bytes
// that are text in neither UTF-8 nor Windows-1251 when reading. The message names the character
// (or the position of the bytes).
class TextEncodingError : public ZelvError {
 public:
  using ZelvError::ZelvError;
};

// An input that cannot be opened or read, is no file or is too large; `reason` says which, so a
// reader can give its own message.
class InputFileError : public ZelvError {
 public:
  enum class Reason { kCannotOpen, kNotAFile, kTooLarge, kCannotRead };
  InputFileError(Reason reason, const std::string& message) : ZelvError(message), reason_(reason) {}
  Reason reason() const { return reason_; }

 private:
  Reason reason_;
};

// The bytes of an input, through the one guarded open every reader uses: the name is opened
// without blocking and the opened descriptor is what is checked and read, so no name can change
// between the check and the read. A regular file (or a link to one) is read when it is no larger
// than `largest` bytes (also one that grows while it is read). A pipe given on purpose (a shell's
// "<(...)") is read to its end, up to `largest` bytes; a FIFO that no program writes, or a writer
// silent for seconds, is refused at once, never waited for. A folder, a device and a socket are
// refused unread. Raises InputFileError.
std::string ReadInputFile(const std::string& path, std::size_t largest = kLargestDataFile);

// The first `count` bytes of an input (fewer when it is shorter), through the same guarded open,
// for telling its format. A pipe is read whole here (its first bytes cannot be put back) and its
// bytes are kept for the next ReadInputFile of the same pipe, so the reader that follows the
// detection gets them: a pipe is read once. Raises InputFileError.
std::string ReadInputHead(const std::string& path, std::size_t count,
                          std::size_t largest = kLargestDataFile);

// The lines of an input read by ReadInputFile, as its bytes stand (no code-page conversion: for
// lists of file names, such as a batch manifest), a leading UTF-8 byte-order mark dropped, split
// as SplitLines splits. Raises InputFileError.
std::vector<std::string> ReadInputLines(const std::string& path, std::size_t largest);

// True when a regular file (or a link to one) of that name exists.
bool FileExists(const std::string& path);

// True when the name leads to something that exists but is neither a regular file nor a folder
// (a FIFO, a device, a socket): the readers take it as existing and then refuse to read it.
bool IsSpecialFile(const std::string& path);

// Loads a data file as UTF-8 lines, read by ReadInputFile. A CR, an LF or a CR LF ends a line; a
// final line end makes no extra empty line. Raises ZelvError when the file cannot be read, is not
// a regular file or a pipe, is larger than kLargestDataFile, or is text in neither code page (see
// DecodeText).
std::vector<std::string> LoadTextLines(const std::string& path);

// The same file as one UTF-8 text, for readers that split it themselves (SplitLines).
std::string LoadText(const std::string& path);

// The lines of a text, as LoadTextLines splits them; each view points into `text`.
std::vector<std::string_view> SplitLines(std::string_view text);

// Walks the lines of a text one at a time, as SplitLines splits them, without storing them.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) : text_(text) {}
  // The next line, pointing into the text; false after the last one.
  bool Next(std::string_view& line);

 private:
  std::string_view text_;
  std::size_t start_ = 0;
  std::size_t nextLf_ = 0;  // the next LF at or after start_ (text_.size() when none), once known
  bool lfKnown_ = false;
};

// The UTF-8 text of a data file's bytes. Bytes that start with the UTF-8 byte-order mark, or that
// are valid UTF-8 and hold a byte above 0x7F, are UTF-8 (the mark is dropped); any other bytes
// are Windows-1251. A NUL byte, invalid UTF-8 after the mark and a byte Windows-1251 leaves
// undefined raise TextEncodingError.
std::string DecodeText(std::string bytes);

// Writes UTF-8 lines as Windows-1251, each ended by CR LF. An existing file is replaced
// atomically: the text goes to a temporary file in the same folder that is then renamed over
// the old one, so a failed write leaves the old file untouched and no temporary file behind (nor
// does an interrupt or a termination signal during the save). A replaced file keeps its
// permissions; a new one gets 0666 less the umask. Saving through a symbolic link writes the file
// at the end of its links, creating it when the link dangles; links that run in a circle are an
// error. Only a regular file is ever replaced: a folder or a device as the target is an error.
// Raises ZelvError on any failure, TextEncodingError for a text not representable in
// Windows-1251.
void SaveTextLines(const std::string& path, const std::vector<std::string>& lines);

// Replaces the file at `path` with `bytes` as SaveTextLines does (atomically, through a temporary
// file in the same folder, following links, cleaned up on a signal). Raises ZelvError on any
// failure.
void ReplaceFile(const std::string& path, const std::string& bytes);

// The file a save to `path` writes: the name itself, or the end of its chain of symbolic links,
// also when that end does not exist yet (a dangling link gets its file). Raises ZelvError for
// links that run in a circle.
std::string WriteTarget(const std::string& path);

// Converts between UTF-8 and Windows-1251; raise TextEncodingError on invalid input.
std::string Utf8ToCp1251(const std::string& utf8);
std::string Cp1251ToUtf8(const std::string& cp1251);

// The folder part of a path, up to and including its last separator ('/' or '\\'); empty when
// there is none.
std::string FolderOf(const std::string& path);
// The part of a path after its last separator ('/' or '\\'); the whole path when there is none.
std::string FileNameOf(const std::string& path);

}  // namespace zelv
