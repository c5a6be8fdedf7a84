#pragma once
// A small ZIP (PKWARE APPNOTE) writer for the plug-in package: Deflate through zlib, one
// fixed set of entry settings, no directories, no ZIP64. Adobe's installer reads the
// result; so do unzip and Python's zipfile in our tests.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cutrelay {

// Settings shared by every entry, chosen so that two archives of the same files are
// byte-identical: a fixed date, fixed permissions, one compression level.
inline constexpr std::uint16_t kZipMadeBy = 0x032D;       // Unix host, format version 4.5
inline constexpr std::uint16_t kZipNeeded = 20;           // 2.0: Deflate
inline constexpr std::uint16_t kZipMethodDeflate = 8;
inline constexpr int kZipDeflateLevel = 6;
inline constexpr std::uint16_t kZipDosTime = 0x0000;      // 00:00:00
inline constexpr std::uint16_t kZipDosDate = 0x0021;      // 1980-01-01
inline constexpr std::uint32_t kZipUnixMode = 0100644;    // regular file, rw-r--r--

// Builds an archive in memory. Entries are written in the order they are added.
class ZipWriter {
 public:
  // Compresses `bytes` and appends the entry. False (with error()) when zlib fails or the
  // archive would need ZIP64; the archive is then unusable.
  bool add(std::string_view name, std::string_view bytes);

  // Appends the central directory and its end record; the archive is then bytes().
  // False (with error()) when the archive is unusable.
  bool finish();

  const std::string& bytes() const { return out_; }
  const std::string& error() const { return error_; }

 private:
  struct Central {
    std::string name;
    std::uint32_t crc = 0;
    std::uint32_t compressed = 0;
    std::uint32_t size = 0;
    std::uint32_t offset = 0;
  };
  bool fail(std::string message);

  std::string out_;
  std::vector<Central> entries_;
  std::string error_;
};

}  // namespace cutrelay
