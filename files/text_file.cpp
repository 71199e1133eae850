#include "files/text_file.h"

#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "base/zelv_error.h"

namespace zelv {
namespace {

// Runs one whole-buffer conversion through iconv; any byte sequence the target cannot hold or
// the source does not define raises.
std::string Convert(const std::string& input, const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1))
    throw ZelvError(std::string("Преобразование кодировки недоступно: ") + from + " -> " + to);
  std::unique_ptr<void, int (*)(iconv_t)> guard(cd, iconv_close);

  // UTF-8 takes at most 3 bytes for a Windows-1251 character; Windows-1251 at most 1 byte for
  // any UTF-8 sequence, so these sizes are always enough.
  std::string output(input.size() * 3 + 16, '\0');
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  char* out = output.data();
  std::size_t outLeft = output.size();
  if (iconv(cd, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) ||
      iconv(cd, nullptr, nullptr, &out, &outLeft) == static_cast<std::size_t>(-1)) {
    throw ZelvError("Текст не в кодировке Windows-1251 (позиция " +
                    std::to_string(input.size() - inLeft) + ")");
  }
  output.resize(output.size() - outLeft);
  return output;
}

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now and reports whether the close succeeded (a late write error shows up here).
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

std::string ReadWholeFile(const std::string& path) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw ZelvError(SystemError("Не удалось открыть файл", path));
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0)
    throw ZelvError(SystemError("Не удалось прочитать файл", path));
  if (S_ISDIR(info.st_mode)) throw ZelvError("Не удалось прочитать файл " + path + ": это папка");
  std::string bytes;
  if (S_ISREG(info.st_mode)) bytes.reserve(static_cast<std::size_t>(info.st_size));
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw ZelvError(SystemError("Не удалось прочитать файл", path));
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return bytes;
}

void WriteAll(int fd, const std::string& bytes, const std::string& path) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw ZelvError(SystemError("Не удалось записать файл", path));
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace

std::string Utf8ToCp1251(const std::string& utf8) { return Convert(utf8, "CP1251", "UTF-8"); }

std::string Cp1251ToUtf8(const std::string& cp1251) {
  // A NUL byte is no character of a text file: such a file is binary or damaged.
  if (cp1251.find('\0') != std::string::npos)
    throw ZelvError("Текст не в кодировке Windows-1251 (нулевой байт)");
  return Convert(cp1251, "UTF-8", "CP1251");
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::vector<std::string> LoadTextLines(const std::string& path) {
  const std::string text = Cp1251ToUtf8(ReadWholeFile(path));
  std::vector<std::string> lines;
  std::size_t start = 0;
  const std::size_t size = text.size();
  while (start < size) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.emplace_back(text, start, std::string::npos);
      break;
    }
    lines.emplace_back(text, start, end - start);
    start = end + 1;
    if (text[end] == '\r' && start < size && text[start] == '\n') ++start;
  }
  return lines;
}

void SaveTextLines(const std::string& path, const std::vector<std::string>& lines) {
  std::string utf8;
  std::size_t total = 0;
  for (const std::string& line : lines) total += line.size() + 2;
  utf8.reserve(total);
  for (const std::string& line : lines) {
    utf8 += line;
    utf8 += "\r\n";
  }
  const std::string bytes = Utf8ToCp1251(utf8);

  // Replace what the name points at: a link keeps pointing at the new text.
  std::string target = path;
  struct stat info {};
  bool exists = false;
  if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    std::unique_ptr<char, void (*)(void*)> resolved(::realpath(path.c_str(), nullptr), ::free);
    if (resolved) target = resolved.get();
  }
  if (::stat(target.c_str(), &info) == 0) {
    // Only a regular file may be replaced; renaming over a folder or a device would destroy it.
    if (!S_ISREG(info.st_mode))
      throw ZelvError("Не удалось записать файл " + path + ": это не обычный файл");
    exists = true;
  }

  const std::size_t slash = target.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  // A new file gets the usual permissions (0666 less the umask, applied by open); a replaced one
  // keeps its own.
  std::string temp;
  int tempFd = -1;
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100 && tempFd < 0; ++attempt) {
    temp = folder + "." + name + "." + std::to_string(::getpid()) + "." +
           std::to_string(++counter) + ".tmp";
    tempFd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (tempFd < 0 && errno != EEXIST) break;
  }
  FileDescriptor fd(tempFd);
  if (fd.get() < 0) throw ZelvError(SystemError("Не удалось записать файл", path));
  try {
    if (exists && ::fchmod(fd.get(), info.st_mode & 07777) != 0)
      throw ZelvError(SystemError("Не удалось записать файл", path));
    WriteAll(fd.get(), bytes, path);
    if (::fsync(fd.get()) != 0) throw ZelvError(SystemError("Не удалось записать файл", path));
    if (!fd.Close()) throw ZelvError(SystemError("Не удалось записать файл", path));
    if (::rename(temp.c_str(), target.c_str()) != 0)
      throw ZelvError(SystemError("Не удалось записать файл", path));
    // Make the rename itself durable; a folder that cannot be synced does not undo the save.
    FileDescriptor dir(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
  } catch (...) {
    ::unlink(temp.c_str());
    throw;
  }
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace zelv
