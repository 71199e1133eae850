#pragma once
// The identity of an input file for the report: its size and SHA-256 (OpenSSL's libcrypto).

#include <cstdint>
#include <optional>
#include <string>

namespace zelv {

struct FileIdentity {
  std::uintmax_t size = 0;  // bytes
  std::string sha256;       // 64 lowercase hexadecimal digits
};

// The size and SHA-256 of the file at `path`, read once; nothing when it cannot be read (missing,
// a folder, a read error).
std::optional<FileIdentity> IdentifyFile(const std::string& path);

// The SHA-256 of `bytes` as 64 lowercase hexadecimal digits.
std::string Sha256Hex(const std::string& bytes);

}  // namespace zelv
