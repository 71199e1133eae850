#pragma once
// Windows-1251 text files: read as UTF-8 lines, written with CR LF.

#include <string>
#include <vector>

namespace zelv {

// True when a regular file (or a link to one) of that name exists.
bool FileExists(const std::string& path);

// Loads a Windows-1251 text file as UTF-8 lines. A CR, an LF or a CR LF ends a line; a final
// line end makes no extra empty line. Raises ZelvError when the file cannot be read or is not
// valid Windows-1251 (a NUL byte counts as invalid).
std::vector<std::string> LoadTextLines(const std::string& path);

// Writes UTF-8 lines as Windows-1251, each ended by CR LF. An existing file is replaced
// atomically: the text goes to a temporary file in the same folder that is then renamed over
// the old one, so a failed write leaves the old file untouched and no temporary file behind. A
// replaced file keeps its permissions; a new one gets 0666 less the umask. Saving through a
// symbolic link replaces the file it points at. Only a regular file is ever replaced: a folder
// or a device as the target is an error. Raises ZelvError on any failure (including a text not
// representable in Windows-1251).
void SaveTextLines(const std::string& path, const std::vector<std::string>& lines);

// Converts between UTF-8 and Windows-1251; raise ZelvError on invalid input.
std::string Utf8ToCp1251(const std::string& utf8);
std::string Cp1251ToUtf8(const std::string& cp1251);

// The folder part of a path, up to and including its last separator ('/' or '\\'); empty when
// there is none.
std::string FolderOf(const std::string& path);
// The part of a path after its last separator ('/' or '\\'); the whole path when there is none.
std::string FileNameOf(const std::string& path);

}  // namespace zelv
