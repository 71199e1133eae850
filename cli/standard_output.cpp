#include "cli/standard_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zelv::cli {
namespace {

// The errno of the first failed write; 0 while all succeeded.
int firstError = 0;

void Remember(int error) {
  if (firstError == 0) firstError = error != 0 ? error : EIO;
}

}  // namespace

void GuardStandardOutput() {
  if (fcntl(STDOUT_FILENO, F_GETFD) != -1 || errno != EBADF) return;
  Remember(EBADF);
  // With standard input closed too, open gives descriptor 0: move it to 1.
  const int fd = open("/dev/null", O_WRONLY);
  if (fd >= 0 && fd != STDOUT_FILENO) {
    dup2(fd, STDOUT_FILENO);
    close(fd);
  }
}

void Print(std::string_view text) {
  if (text.empty()) return;
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) Remember(errno);
}

bool FinishStandardOutput() {
  errno = 0;
  if (std::fflush(stdout) != 0) Remember(errno);
  if (std::ferror(stdout)) Remember(errno);
  errno = 0;
  if (std::fclose(stdout) != 0) Remember(errno);
  if (firstError == 0) return true;
  std::fprintf(stderr, "zelv-cli: write error: %s\n", std::strerror(firstError));
  return false;
}

}  // namespace zelv::cli
