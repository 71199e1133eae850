#include "files/text_file.h"

#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#include "base/zelv_error.h"

namespace zelv {
namespace {

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// The code point of the UTF-8 sequence at `at`, and its length; false when the bytes there are no
// valid sequence (overlong forms, surrogates and values above U+10FFFF included).
bool DecodeUtf8(std::string_view text, std::size_t at, char32_t& codePoint, std::size_t& length) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  const auto continuation = [&](std::size_t i, unsigned char low, unsigned char high) {
    return at + i < text.size() && byte(at + i) >= low && byte(at + i) <= high;
  };
  if (lead < 0x80) {
    codePoint = lead;
    length = 1;
    return true;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    if (!continuation(1, 0x80, 0xBF)) return false;
    codePoint = (lead & 0x1Fu) << 6 | (byte(at + 1) & 0x3Fu);
    length = 2;
    return true;
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
    if (!continuation(1, low, high) || !continuation(2, 0x80, 0xBF)) return false;
    codePoint = (lead & 0x0Fu) << 12 | (byte(at + 1) & 0x3Fu) << 6 | (byte(at + 2) & 0x3Fu);
    length = 3;
    return true;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
    if (!continuation(1, low, high) || !continuation(2, 0x80, 0xBF) || !continuation(3, 0x80, 0xBF))
      return false;
    codePoint = (lead & 0x07u) << 18 | (byte(at + 1) & 0x3Fu) << 12 | (byte(at + 2) & 0x3Fu) << 6 |
                (byte(at + 3) & 0x3Fu);
    length = 4;
    return true;
  }
  return false;
}

// The offset of the first byte above 0x7F, or the size when there is none.
std::size_t FirstNonAscii(std::string_view text) {
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    if (word & 0x8080808080808080u) break;
  }
  while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
  return i;
}

// True when every byte from `from` on is part of a valid UTF-8 sequence.
bool IsUtf8From(std::string_view text, std::size_t from) {
  std::size_t i = from;
  while (i < text.size()) {
    const std::size_t ascii = FirstNonAscii(text.substr(i));
    i += ascii;
    if (i >= text.size()) break;
    char32_t codePoint;
    std::size_t length;
    if (!DecodeUtf8(text, i, codePoint, length)) return false;
    i += length;
  }
  return true;
}

// The UTF-8 bytes of each Windows-1251 byte from 0x80 on, taken once from the C library's own
// conversion, so that reading gives exactly what it gives; an empty entry is a byte the code page
// leaves undefined.
struct Cp1251Table {
  std::string utf8[128];
  Cp1251Table() {
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1)) return;
    for (int b = 0; b < 128; ++b) {
      char in[1] = {static_cast<char>(0x80 + b)};
      char out[8];
      char* inPtr = in;
      std::size_t inLeft = 1;
      char* outPtr = out;
      std::size_t outLeft = sizeof out;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) &&
          inLeft == 0)
        utf8[b].assign(out, static_cast<std::size_t>(outPtr - out));
    }
    iconv_close(cd);
  }
};

const Cp1251Table& Cp1251() {
  static const Cp1251Table table;
  return table;
}

std::string Utf8CharacterText(char32_t codePoint, std::string_view bytes) {
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(codePoint));
  // A control character is named by its code alone: shown as it is, it would be invisible.
  if (codePoint < 0x20 || (codePoint >= 0x7F && codePoint < 0xA0)) return code;
  return "«" + std::string(bytes) + "» (" + code + ")";
}

// Windows-1251 bytes of a UTF-8 text through iconv; a character the code page lacks is named.
std::string Utf8ToCp1251Bytes(const std::string& input) {
  iconv_t cd = iconv_open("CP1251", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1))
    throw ZelvError("Преобразование кодировки недоступно: UTF-8 -> CP1251");
  std::unique_ptr<void, int (*)(iconv_t)> guard(cd, iconv_close);
  // Windows-1251 takes at most one byte for any UTF-8 sequence.
  std::string output(input.size() + 16, '\0');
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  char* out = output.data();
  std::size_t outLeft = output.size();
  if (iconv(cd, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) ||
      iconv(cd, nullptr, nullptr, &out, &outLeft) == static_cast<std::size_t>(-1)) {
    const std::size_t at = input.size() - inLeft;
    char32_t codePoint;
    std::size_t length;
    if (at < input.size() && DecodeUtf8(input, at, codePoint, length))
      throw TextEncodingError(
          "Символ " + Utf8CharacterText(codePoint, std::string_view(input).substr(at, length)) +
          " нельзя записать в кодировке Windows-1251");
    throw TextEncodingError("Текст не в кодировке UTF-8 (позиция " + std::to_string(at) + ")");
  }
  output.resize(output.size() - outLeft);
  return output;
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

// The `head` of ReadInput that reads the whole input.
constexpr std::size_t kWholeInput = static_cast<std::size_t>(-1);

// How long a pipe may stay silent while it is read before it is taken for one that never ends.
constexpr int kPipeSilenceMs = 5000;

// The last pipe the format detection read whole: the reader that follows gets its bytes, for the
// pipe itself has none left. Taken by that one read.
struct KeptPipe {
  dev_t device = 0;
  ino_t inode = 0;
  bool held = false;
  std::string bytes;
};
std::mutex keptPipeMutex;
KeptPipe keptPipe;

[[noreturn]] void FailInput(InputFileError::Reason reason, const std::string& message) {
  throw InputFileError(reason, message);
}

// The bytes of an input, read through one guarded open (see ReadInputFile). With `head` set, a
// regular file is read only up to that many bytes, and a pipe is read whole and kept for the
// next read of it.
std::string ReadInput(const std::string& path, std::size_t largest, std::size_t head) {
  using Reason = InputFileError::Reason;
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (fd.get() < 0) FailInput(Reason::kCannotOpen, SystemError("Не удалось открыть файл", path));
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0)
    FailInput(Reason::kCannotRead, SystemError("Не удалось прочитать файл", path));
  if (S_ISDIR(info.st_mode))
    FailInput(Reason::kNotAFile, "Не удалось прочитать файл " + path + ": это папка");
  const bool pipe = S_ISFIFO(info.st_mode);
  const auto notAFile = [&path] {
    FailInput(Reason::kNotAFile, "Не удалось прочитать файл " + path + ": это не обычный файл");
  };
  if (!S_ISREG(info.st_mode) && !pipe) notAFile();
  const auto tooLarge = [&path, largest] {
    FailInput(Reason::kTooLarge,
              "Не удалось прочитать файл " + path + ": файл больше " +
                  (largest >= (std::size_t{1} << 20) ? std::to_string(largest >> 20) + " МБ"
                                                     : std::to_string(largest >> 10) + " КБ"));
  };
  if (pipe) {
    std::lock_guard<std::mutex> lock(keptPipeMutex);
    if (keptPipe.held && keptPipe.device == info.st_dev && keptPipe.inode == info.st_ino) {
      if (keptPipe.bytes.size() > largest) tooLarge();
      // Another look at the head keeps the bytes for the reader; the reader takes them.
      if (head != kWholeInput) return keptPipe.bytes.substr(0, head);
      keptPipe.held = false;
      return std::exchange(keptPipe.bytes, std::string());
    }
  } else if (info.st_size < 0 || static_cast<std::uint64_t>(info.st_size) > largest) {
    tooLarge();
  }
  const std::size_t wanted = pipe ? largest : std::min(largest, head);
  // One byte more than the size, so that the end shows up in the first pass; a pipe, or a file
  // that reports no size (as some system files do), starts with a small buffer.
  const std::size_t size = pipe ? 0 : static_cast<std::size_t>(info.st_size);
  std::string bytes(std::min(size > 0 ? size + 1 : std::size_t{1} << 16, wanted + 1), '\0');
  std::size_t have = 0;
  for (;;) {
    if (have == bytes.size()) {
      if (have > wanted) {
        if (head != kWholeInput && !pipe) break;
        tooLarge();
      }
      bytes.resize(std::min(2 * bytes.size(), wanted + 1));
    }
    const ssize_t n = ::read(fd.get(), bytes.data() + have, bytes.size() - have);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN && pipe) {
        // A writer is there but silent: wait for it a while, never for ever.
        struct pollfd wait {};
        wait.fd = fd.get();
        wait.events = POLLIN;
        const int ready = ::poll(&wait, 1, kPipeSilenceMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0)
          FailInput(Reason::kCannotRead,
                    "Не удалось прочитать файл " + path + ": канал не передаёт данных");
        continue;
      }
      FailInput(Reason::kCannotRead, SystemError("Не удалось прочитать файл", path));
    }
    if (n == 0) break;
    have += static_cast<std::size_t>(n);
  }
  bytes.resize(std::min(have, wanted));
  // A FIFO that no program writes reads as empty at once: it is refused as before, not taken for
  // an empty file.
  if (pipe && bytes.empty()) notAFile();
  if (pipe && head != kWholeInput) {
    std::lock_guard<std::mutex> lock(keptPipeMutex);
    keptPipe.device = info.st_dev;
    keptPipe.inode = info.st_ino;
    keptPipe.held = true;
    keptPipe.bytes = bytes;
    bytes.resize(std::min(bytes.size(), head));
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

// ---------------------------------------------------------------- temporary files and signals

// The temporary files of the saves under way, removed by the handler of the cleanup signals. The
// list only grows, one entry for the most saves ever under way at once; a save takes a free entry
// or adds one, so any number of saves is tracked and the handler walks it without locks or
// allocation. An entry's state is 0 when free, 1 while it is being filled, 2 while it names a
// temporary file (from before that file is made until it is renamed or removed).
struct TemporaryEntry {
  std::atomic<int> state{0};
  char path[PATH_MAX];
  TemporaryEntry* next = nullptr;  // set before the entry joins the list, never changed after
};
std::atomic<TemporaryEntry*> temporaryEntries{nullptr};

// Set by the cleanup handler when the signal is about to end the process.
std::atomic<bool> processEnding{false};
// The threads between naming a temporary file for removal and having made it. The handler waits
// for them: a file made after its walk would outlive the process, whose other threads the kernel
// lets finish the call they are in before it ends them.
std::atomic<int> temporariesBeingMade{0};

// An entry in state 1, free or new.
TemporaryEntry* ClaimTemporaryEntry() {
  for (TemporaryEntry* e = temporaryEntries.load(); e != nullptr; e = e->next) {
    int expected = 0;
    if (e->state.compare_exchange_strong(expected, 1)) return e;
  }
  auto* entry = new TemporaryEntry;  // kept for reuse for the rest of the process
  entry->state.store(1);
  entry->next = temporaryEntries.load();
  while (!temporaryEntries.compare_exchange_weak(entry->next, entry)) {
  }
  return entry;
}

// An interrupt, a termination, and a reader of the output that went away (`... | head -1`).
constexpr int kCleanupSignals[3] = {SIGINT, SIGTERM, SIGPIPE};
constexpr int kCleanupSignalCount = 3;
struct sigaction previousActions[kCleanupSignalCount];
bool handlerInstalled[kCleanupSignalCount] = {false, false, false};
std::mutex signalMutex;
int savesUnderWay = 0;

// Removes every temporary file, puts back the disposition the program had before and raises the
// signal again, which that disposition then handles (by default: the process ends). Uses only
// async-signal-safe calls.
extern "C" void RemoveTemporariesOnSignal(int signal) {
  const struct sigaction* previous = nullptr;
  for (int i = 0; i < kCleanupSignalCount; ++i)
    if (kCleanupSignals[i] == signal) previous = &previousActions[i];
  // The default disposition of these signals ends the process: from now on no other thread may
  // leave a new temporary file behind or report a save that this cleanup broke.
  if (previous == nullptr || previous->sa_handler == SIG_DFL) {
    processEnding.store(true);
    // Bounded, so that a thread stopped inside open() cannot hold the signal for ever.
    for (long spin = 0; spin < 200000000L && temporariesBeingMade.load() != 0; ++spin) {
    }
  }
  for (TemporaryEntry* e = temporaryEntries.load(); e != nullptr; e = e->next)
    if (e->state.load() == 2) ::unlink(e->path);
  if (previous != nullptr) ::sigaction(signal, previous, nullptr);
  ::raise(signal);  // delivered when this handler returns, under the old disposition
}

// Waits for the end of the process that a cleanup signal has begun.
[[noreturn]] void AwaitProcessEnd() {
  for (;;) ::pause();
}

// While one exists, the cleanup signals remove the temporary files of the saves under way (a
// signal the program ignores stays ignored).
class SignalCleanup {
 public:
  SignalCleanup() {
    std::lock_guard<std::mutex> lock(signalMutex);
    if (savesUnderWay++ > 0) return;
    for (int i = 0; i < kCleanupSignalCount; ++i) {
      struct sigaction current {};
      handlerInstalled[i] = false;
      if (::sigaction(kCleanupSignals[i], nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
        continue;
      previousActions[i] = current;
      struct sigaction ours {};
      ours.sa_handler = RemoveTemporariesOnSignal;
      sigemptyset(&ours.sa_mask);
      ours.sa_flags = 0;
      handlerInstalled[i] = ::sigaction(kCleanupSignals[i], &ours, nullptr) == 0;
    }
  }
  ~SignalCleanup() {
    std::lock_guard<std::mutex> lock(signalMutex);
    if (--savesUnderWay > 0) return;
    for (int i = 0; i < kCleanupSignalCount; ++i) {
      if (!handlerInstalled[i]) continue;
      struct sigaction current {};
      // Put back only what is still ours: a handler set meanwhile by the program stays.
      if (::sigaction(kCleanupSignals[i], nullptr, &current) == 0 &&
          current.sa_handler == RemoveTemporariesOnSignal)
        ::sigaction(kCleanupSignals[i], &previousActions[i], nullptr);
      handlerInstalled[i] = false;
    }
  }
  SignalCleanup(const SignalCleanup&) = delete;
  SignalCleanup& operator=(const SignalCleanup&) = delete;
};

// Blocks the cleanup signals in this thread while it lives, so that a temporary file is created
// and registered for removal as one step.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kCleanupSignals) sigaddset(&set, signal);
    pthread_sigmask(SIG_BLOCK, &set, &saved_);
  }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;

 private:
  sigset_t saved_;
};

// A temporary file of a save, registered for removal on a signal while it exists.
class TemporaryFile {
 public:
  TemporaryFile(const std::string& folder, const std::string& name, const std::string& path) {
    static std::atomic<unsigned> counter{0};
    long nameMax = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    if (nameMax <= 0) nameMax = NAME_MAX;
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
      std::string suffix = ".";
      suffix += std::to_string(::getpid());
      suffix += '.';
      suffix += std::to_string(++counter);
      suffix += ".tmp";
      // ".NAME.PID.N.tmp" within the longest name the folder allows: a long NAME is shortened
      // (at a character's start), as the temporary name only has to be unique.
      std::string shortName = name;
      const std::size_t room = static_cast<std::size_t>(nameMax) > suffix.size() + 1
                                   ? static_cast<std::size_t>(nameMax) - suffix.size() - 1
                                   : 0;
      if (shortName.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(shortName[cut]) & 0xC0) == 0x80) --cut;
        shortName.resize(cut);
      }
      path_ = folder + "." + shortName + suffix;
      SignalsBlocked blocked;
      // Named for removal before it exists, and made while the handler of a signal taken by
      // another thread waits: its walk then finds the file, or this thread sees the process end
      // and makes none.
      temporariesBeingMade.fetch_add(1);
      if (processEnding.load()) {
        temporariesBeingMade.fetch_sub(1);
        AwaitProcessEnd();
      }
      Register();
      fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      temporariesBeingMade.fetch_sub(1);
      if (fd_ < 0) {
        const int error = errno;
        Unregister();
        errno = error;
        if (error != EEXIST) break;
        continue;
      }
    }
    if (fd_ < 0) throw ZelvError(SystemError("Не удалось записать файл", path));
  }
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!renamed_) ::unlink(path_.c_str());
    Unregister();
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }
  void Renamed() {
    renamed_ = true;
    Unregister();
  }

 private:
  void Register() {
    if (path_.size() >= PATH_MAX) return;  // open refuses such a name anyway
    entry_ = ClaimTemporaryEntry();
    std::memcpy(entry_->path, path_.c_str(), path_.size() + 1);
    entry_->state.store(2);
  }
  void Unregister() {
    if (entry_ != nullptr) entry_->state.store(0);
    entry_ = nullptr;
  }

  std::string path_;
  int fd_ = -1;
  bool renamed_ = false;
  TemporaryEntry* entry_ = nullptr;
};

}  // namespace

std::string WriteTarget(const std::string& path) {
  std::string current = path;
  for (int hop = 0; hop <= 40; ++hop) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    std::string link(PATH_MAX, '\0');
    const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
    if (n < 0 || static_cast<std::size_t>(n) >= link.size())
      throw ZelvError(SystemError("Не удалось записать файл", path));
    link.resize(static_cast<std::size_t>(n));
    if (link.empty()) throw ZelvError("Не удалось записать файл " + path + ": пустая ссылка");
    if (link[0] == '/') {
      current = link;
    } else {
      const std::size_t slash = current.find_last_of('/');
      current = (slash == std::string::npos ? std::string() : current.substr(0, slash + 1)) + link;
    }
  }
  throw ZelvError("Не удалось записать файл " + path +
                  ": символические ссылки замыкаются в кольцо");
}

std::string Utf8ToCp1251(const std::string& utf8) { return Utf8ToCp1251Bytes(utf8); }

std::string Cp1251ToUtf8(const std::string& cp1251) {
  // A NUL byte is no character of a text file: such a file is binary or damaged.
  if (std::memchr(cp1251.data(), 0, cp1251.size()) != nullptr)
    throw TextEncodingError("Текст не в кодировке Windows-1251 (нулевой байт)");
  const std::size_t firstHigh = FirstNonAscii(cp1251);
  if (firstHigh == cp1251.size()) return cp1251;
  const Cp1251Table& table = Cp1251();
  std::size_t size = firstHigh;
  for (std::size_t i = firstHigh; i < cp1251.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(cp1251[i]);
    if (c < 0x80) {
      ++size;
      continue;
    }
    const std::string& utf8 = table.utf8[c - 0x80];
    if (utf8.empty())
      throw TextEncodingError("Текст не в кодировке Windows-1251 (позиция " + std::to_string(i) +
                              ")");
    size += utf8.size();
  }
  std::string text;
  text.reserve(size);
  text.append(cp1251, 0, firstHigh);
  for (std::size_t i = firstHigh; i < cp1251.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(cp1251[i]);
    if (c < 0x80)
      text.push_back(static_cast<char>(c));
    else
      text += table.utf8[c - 0x80];
  }
  return text;
}

std::string DecodeText(std::string bytes) {
  if (std::memchr(bytes.data(), 0, bytes.size()) != nullptr)
    throw TextEncodingError("Текст файла содержит нулевой байт");
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    if (!IsUtf8From(bytes, 3)) throw TextEncodingError("Текст не в кодировке UTF-8");
    bytes.erase(0, 3);
    return bytes;
  }
  const std::size_t firstHigh = FirstNonAscii(bytes);
  if (firstHigh == bytes.size() || IsUtf8From(bytes, firstHigh)) return bytes;
  return Cp1251ToUtf8(bytes);
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsSpecialFile(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) &&
         !S_ISDIR(info.st_mode);
}

std::string ReadInputFile(const std::string& path, std::size_t largest) {
  return ReadInput(path, largest, kWholeInput);
}

std::string ReadInputHead(const std::string& path, std::size_t count, std::size_t largest) {
  return ReadInput(path, largest, count);
}

std::vector<std::string> ReadInputLines(const std::string& path, std::size_t largest) {
  const std::string bytes = ReadInputFile(path, largest);
  std::string_view text = bytes;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const std::vector<std::string_view> views = SplitLines(text);
  return std::vector<std::string>(views.begin(), views.end());
}

std::string LoadText(const std::string& path) { return DecodeText(ReadInputFile(path)); }

bool LineCursor::Next(std::string_view& line) {
  const std::size_t size = text_.size();
  if (start_ >= size) return false;
  // The next LF is looked up once and kept until the walk passes it, so a text of CR line ends
  // alone is still walked once.
  if (!lfKnown_ || nextLf_ < start_) {
    const void* lf = std::memchr(text_.data() + start_, '\n', size - start_);
    nextLf_ = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - text_.data()) : size;
    lfKnown_ = true;
  }
  const void* cr = std::memchr(text_.data() + start_, '\r', nextLf_ - start_);
  const std::size_t end =
      cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - text_.data()) : nextLf_;
  line = text_.substr(start_, end - start_);
  start_ = end + 1;
  if (end < size && text_[end] == '\r' && start_ < size && text_[start_] == '\n') ++start_;
  return true;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  LineCursor cursor(text);
  for (std::string_view line; cursor.Next(line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> LoadTextLines(const std::string& path) {
  const std::string text = LoadText(path);
  const std::vector<std::string_view> views = SplitLines(text);
  return std::vector<std::string>(views.begin(), views.end());
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
  ReplaceFile(path, Utf8ToCp1251(utf8));
}

void ReplaceFile(const std::string& path, const std::string& bytes) {
  // Replace what the name leads to: a link keeps pointing at the new text.
  const std::string target = WriteTarget(path);
  struct stat info {};
  bool exists = false;
  if (::stat(target.c_str(), &info) == 0) {
    // Only a regular file may be replaced; renaming over a folder or a device would destroy it.
    if (!S_ISREG(info.st_mode))
      throw ZelvError("Не удалось записать файл " + path + ": это не обычный файл");
    exists = true;
  }

  const std::size_t slash = target.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  const std::string shown = target == path ? path : path + " (ссылка на " + target + ")";
  const SignalCleanup cleanup;
  // A new file gets the usual permissions (0666 less the umask, applied by open); a replaced one
  // keeps its own.
  TemporaryFile temp(folder, name, shown);
  try {
    if (exists && ::fchmod(temp.fd(), info.st_mode & 07777) != 0)
      throw ZelvError(SystemError("Не удалось записать файл", shown));
    WriteAll(temp.fd(), bytes, shown);
    if (::fsync(temp.fd()) != 0) throw ZelvError(SystemError("Не удалось записать файл", shown));
    if (!temp.Close()) throw ZelvError(SystemError("Не удалось записать файл", shown));
    if (::rename(temp.path().c_str(), target.c_str()) != 0)
      throw ZelvError(SystemError("Не удалось записать файл", shown));
  } catch (const ZelvError&) {
    // The cleanup removed the temporary file under this save: not a failure to report, for the
    // process is ending.
    if (processEnding.load()) AwaitProcessEnd();
    throw;
  }
  temp.Renamed();
  // Make the rename itself durable; a folder that cannot be synced does not undo the save.
  FileDescriptor dir(
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
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
