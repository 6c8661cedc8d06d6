// The saved form of a Hamming index, the same in a file and in a pickle:
//
//   offset      size       field
//   0           8          magic: the bytes 89 4D 49 56 4F 48 49 0A ("\x89MIVOHI\n")
//   8           4          format version, u32 little-endian: 1
//   12          4          code size s in bytes, u32 little-endian: 8 or 16
//   16          8          number of codes n, u64 little-endian
//   24          8          next default id (codes ever added), u64 little-endian
//   32          n * s      the codes, each as its s bytes in the order given (a
//                          Mini128 payload as mivo.decode shows it, a 64-bit
//                          value most significant byte first)
//   32 + n * s  8 * n      the ids, i64 little-endian, in the order of the codes
//   end - 32    32         BLAKE3 hash of every byte before it
//
// so the whole is exactly 64 + n * (s + 8) bytes. A reader checks, in this
// order: the magic, the size of the header, the version, the code size, the
// total size against n, the checksum, then that no id (and not the next id)
// is negative. Nothing is allocated before the size is known to match, so a
// damaged count cannot ask for more memory than the file holds.
//
// Both directions go piece by piece (at most 4 MiB each), so that a caller
// can stop between pieces, and the codes and ids are read straight into the
// new index's blocks (no second copy). A file is written to a temporary file
// beside it, flushed to disk and renamed into place, so a reader sees the old
// file or the new one, never half of one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "blake3.h"
#include "collections/hamming_index.hpp"
#include "embeddings/expected.hpp"

namespace mivo::collections {

// What went wrong: a system error number (errno) when the system refused,
// else 0 and a message that names the problem, written to follow the name of
// what was read ("... is truncated: ...").
struct FormatError {
    int os_error = 0;
    std::string message;
};
template <class T>
using FormatResult = embeddings::expected<T, FormatError>;

inline constexpr std::uint32_t kIndexFormatVersion = 1;

// Where the saved form goes: a file (through a temporary one) or memory.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual FormatResult<void> write(std::span<const std::uint8_t> bytes) = 0;
};

// Where a saved form is read from.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Exactly out.size() bytes, in order.
    virtual FormatResult<void> read(std::span<std::uint8_t> out) = 0;
};

// A file written under a temporary name beside `path`; commit() flushes it
// to disk and renames it to `path`. Destroyed without a commit, the
// temporary file is removed.
class FileSink final : public ByteSink {
public:
    static FormatResult<FileSink> create(std::string path);
    FileSink(FileSink&& other) noexcept;
    FileSink& operator=(FileSink&&) = delete;
    ~FileSink() override;
    FormatResult<void> write(std::span<const std::uint8_t> bytes) override;
    FormatResult<void> commit();

private:
    FileSink(int fd, std::string path, std::string temp) : fd_(fd), path_(std::move(path)), temp_(std::move(temp)) {}
    int fd_;
    std::string path_, temp_;
};

class FileSource final : public ByteSource {
public:
    static FormatResult<FileSource> open(const std::string& path);
    FileSource(FileSource&& other) noexcept;
    FileSource& operator=(FileSource&&) = delete;
    ~FileSource() override;
    std::uint64_t size() const override { return size_; }
    FormatResult<void> read(std::span<std::uint8_t> out) override;

private:
    FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    int fd_;
    std::uint64_t size_;
};

// Into a buffer of the writer's size.
class MemorySink final : public ByteSink {
public:
    explicit MemorySink(std::uint8_t* out) : out_(out) {}
    FormatResult<void> write(std::span<const std::uint8_t> bytes) override;

private:
    std::uint8_t* out_;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    FormatResult<void> read(std::span<std::uint8_t> out) override;

private:
    std::span<const std::uint8_t> bytes_;
};

// The saved form of an index, written piece by piece in order (the index
// must not change meanwhile).
class IndexWriter {
public:
    explicit IndexWriter(const HammingIndex& index);
    std::uint64_t size() const { return size_; }
    std::size_t pieces() const { return pieces_.size(); }
    FormatResult<void> write_piece(std::size_t i, ByteSink& sink);

private:
    struct Piece {
        const std::uint8_t* data;  // nullptr: the checksum
        std::size_t size;
        bool ids;  // ids, converted to little-endian on a big-endian machine
    };
    std::uint8_t header_[32];
    std::vector<Piece> pieces_;
    std::vector<std::uint8_t> scratch_;
    std::uint64_t size_ = 0;
    blake3_hasher hasher_;
};

// A saved form read back: start() reads and checks the header and makes room
// for the codes and ids (std::bad_alloc if there is none); read_piece(i) for
// every piece in order reads them into place; finish() checks the checksum
// and the ids and gives the index.
class IndexReader {
public:
    static FormatResult<IndexReader> start(ByteSource& source);
    std::size_t pieces() const { return pieces_.size(); }
    FormatResult<void> read_piece(std::size_t i, ByteSource& source);
    FormatResult<HammingIndex> finish(ByteSource& source);

private:
    IndexReader() = default;
    unsigned words_ = 0;
    std::uint64_t next_id_ = 0;
    HammingIndex::Codes codes_;
    HammingIndex::Ids ids_;
    std::vector<std::span<std::uint8_t>> pieces_;
    blake3_hasher hasher_;
};

}  // namespace mivo::collections
