#include "installer/zip_writer.hpp"

#include <zlib.h>

#include <limits>

namespace cutrelay {

namespace {

constexpr std::uint32_t kLocalHeaderSig = 0x04034b50;
constexpr std::uint32_t kCentralHeaderSig = 0x02014b50;
constexpr std::uint32_t kEndRecordSig = 0x06054b50;
constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();

// ZIP fields are little-endian whatever the machine.
void put16(std::string& out, std::uint32_t v) {
  out.push_back(static_cast<char>(v & 0xff));
  out.push_back(static_cast<char>((v >> 8) & 0xff));
}
void put32(std::string& out, std::uint32_t v) {
  put16(out, v & 0xffff);
  put16(out, v >> 16);
}

// Raw Deflate (no zlib or gzip wrapper), as ZIP's method 8 stores it.
bool deflate_raw(std::string_view in, std::string& out, std::string& error) {
  z_stream z{};
  if (deflateInit2(&z, kZipDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    error = "zlib could not start a Deflate stream";
    return false;
  }
  out.resize(deflateBound(&z, static_cast<uLong>(in.size())));
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  // The output buffer holds deflateBound bytes, so one call always finishes the stream.
  const int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) {
    error = std::string("zlib could not compress: ") + (z.msg ? z.msg : "unknown error");
    return false;
  }
  return true;
}

}  // namespace

bool ZipWriter::fail(std::string message) {
  error_ = std::move(message);
  return false;
}

bool ZipWriter::add(std::string_view name, std::string_view bytes) {
  if (!error_.empty()) return false;
  // Without ZIP64 every size and offset must fit in 32 bits, names in 16.
  if (bytes.size() >= kMax32 || name.size() > 0xffff || entries_.size() >= 0xffff) {
    return fail("the entry " + std::string(name) + " is too large for a ZIP archive");
  }
  std::string compressed;
  if (!deflate_raw(bytes, compressed, error_)) return false;
  if (out_.size() + 30 + name.size() + compressed.size() >= kMax32) {
    return fail("the archive is too large for a ZIP archive without ZIP64");
  }

  Central entry;
  entry.name = std::string(name);
  entry.crc = static_cast<std::uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
  entry.compressed = static_cast<std::uint32_t>(compressed.size());
  entry.size = static_cast<std::uint32_t>(bytes.size());
  entry.offset = static_cast<std::uint32_t>(out_.size());

  put32(out_, kLocalHeaderSig);
  put16(out_, kZipNeeded);
  put16(out_, 0);  // flags: sizes known up front, so no data descriptor
  put16(out_, kZipMethodDeflate);
  put16(out_, kZipDosTime);
  put16(out_, kZipDosDate);
  put32(out_, entry.crc);
  put32(out_, entry.compressed);
  put32(out_, entry.size);
  put16(out_, static_cast<std::uint32_t>(name.size()));
  put16(out_, 0);  // no extra field
  out_.append(name);
  out_.append(compressed);
  entries_.push_back(std::move(entry));
  return true;
}

bool ZipWriter::finish() {
  if (!error_.empty()) return false;
  const std::size_t directory_start = out_.size();
  for (const Central& e : entries_) {
    put32(out_, kCentralHeaderSig);
    put16(out_, kZipMadeBy);
    put16(out_, kZipNeeded);
    put16(out_, 0);
    put16(out_, kZipMethodDeflate);
    put16(out_, kZipDosTime);
    put16(out_, kZipDosDate);
    put32(out_, e.crc);
    put32(out_, e.compressed);
    put32(out_, e.size);
    put16(out_, static_cast<std::uint32_t>(e.name.size()));
    put16(out_, 0);  // extra field
    put16(out_, 0);  // comment
    put16(out_, 0);  // disk number
    put16(out_, 0);  // internal attributes
    put32(out_, kZipUnixMode << 16);
    put32(out_, e.offset);
    out_.append(e.name);
  }
  const std::size_t directory_size = out_.size() - directory_start;
  if (out_.size() >= kMax32) return fail("the archive is too large for a ZIP archive without ZIP64");
  put32(out_, kEndRecordSig);
  put16(out_, 0);  // this disk
  put16(out_, 0);  // disk with the central directory
  put16(out_, static_cast<std::uint32_t>(entries_.size()));
  put16(out_, static_cast<std::uint32_t>(entries_.size()));
  put32(out_, static_cast<std::uint32_t>(directory_size));
  put32(out_, static_cast<std::uint32_t>(directory_start));
  put16(out_, 0);  // comment length
  return true;
}

}  // namespace cutrelay
