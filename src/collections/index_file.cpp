#include "collections/index_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace mivo::collections {
namespace {

constexpr std::uint8_t kMagic[8] = {0x89, 'M', 'I', 'V', 'O', 'H', 'I', '\n'};
constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kChecksumSize = 32;
constexpr std::size_t kPieceSize = std::size_t{1} << 22;

FormatResult<void> os_failure() { return embeddings::unexpected(FormatError{errno, {}}); }

FormatResult<void> refuse(std::string message) { return embeddings::unexpected(FormatError{0, std::move(message)}); }

template <class T>
FormatResult<T> refuse_as(FormatResult<void> error) {
    return embeddings::unexpected(std::move(error).error());
}

void put_le(std::uint8_t* out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint64_t get_le(const std::uint8_t* in, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | in[i];
    return v;
}

// Ids in memory and in the saved form (little-endian) differ only on a
// big-endian machine.
void ids_to_little_endian(std::int64_t* ids, std::size_t n) {
    if constexpr (std::endian::native == std::endian::big)
        for (std::size_t i = 0; i < n; ++i)
            ids[i] = static_cast<std::int64_t>(__builtin_bswap64(static_cast<std::uint64_t>(ids[i])));
}

// [data, data + size) in pieces of at most kPieceSize bytes.
template <class Add>
void cut(std::size_t size, Add add) {
    for (std::size_t at = 0; at < size; at += kPieceSize) add(at, std::min(kPieceSize, size - at));
}

}  // namespace

// -------------------------------------------------------------------- files

FormatResult<FileSink> FileSink::create(std::string path) {
    static std::atomic<unsigned> counter{0};
    for (;;) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".tmp-%ld-%u", static_cast<long>(::getpid()), counter.fetch_add(1));
        std::string temp = path + suffix;
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return FileSink(fd, std::move(path), std::move(temp));
        if (errno != EEXIST) return refuse_as<FileSink>(os_failure());
    }
}

FileSink::FileSink(FileSink&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)), temp_(std::move(other.temp_)) {}

FileSink::~FileSink() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(temp_.c_str());
    }
}

FormatResult<void> FileSink::write(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return os_failure();
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return {};
}

FormatResult<void> FileSink::commit() {
    while (::fsync(fd_) != 0)
        if (errno != EINTR) return os_failure();
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0 || ::rename(temp_.c_str(), path_.c_str()) != 0) {
        const FormatResult<void> failure = os_failure();
        ::unlink(temp_.c_str());
        return failure;
    }
    return {};
}

FormatResult<FileSource> FileSource::open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return refuse_as<FileSource>(os_failure());
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        return embeddings::unexpected(FormatError{error, {}});
    }
    return FileSource(fd, static_cast<std::uint64_t>(st.st_size));
}

FileSource::FileSource(FileSource&& other) noexcept : fd_(std::exchange(other.fd_, -1)), size_(other.size_) {}

FileSource::~FileSource() {
    if (fd_ >= 0) ::close(fd_);
}

FormatResult<void> FileSource::read(std::span<std::uint8_t> out) {
    while (!out.empty()) {
        const ssize_t n = ::read(fd_, out.data(), out.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return os_failure();
        }
        if (n == 0) return refuse("is truncated: it ended while it was read");
        out = out.subspan(static_cast<std::size_t>(n));
    }
    return {};
}

FormatResult<void> MemorySink::write(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return {};
    std::memcpy(out_, bytes.data(), bytes.size());
    out_ += bytes.size();
    return {};
}

FormatResult<void> MemorySource::read(std::span<std::uint8_t> out) {
    if (out.size() > bytes_.size()) return refuse("is truncated: it ended while it was read");
    if (out.empty()) return {};
    std::memcpy(out.data(), bytes_.data(), out.size());
    bytes_ = bytes_.subspan(out.size());
    return {};
}

// ------------------------------------------------------------------- writer

IndexWriter::IndexWriter(const HammingIndex& index) {
    const std::size_t code_bytes = std::size_t{8} * index.words();
    std::memcpy(header_, kMagic, sizeof kMagic);
    put_le(header_ + 8, kIndexFormatVersion, 4);
    put_le(header_ + 12, code_bytes, 4);
    put_le(header_ + 16, index.size(), 8);
    put_le(header_ + 24, index.next_id(), 8);
    const auto* codes = reinterpret_cast<const std::uint8_t*>(index.codes().data());
    const auto* ids = reinterpret_cast<const std::uint8_t*>(index.ids().data());
    pieces_.push_back({header_, kHeaderSize, false});
    cut(index.size() * code_bytes, [&](std::size_t at, std::size_t n) { pieces_.push_back({codes + at, n, false}); });
    cut(index.size() * 8, [&](std::size_t at, std::size_t n) { pieces_.push_back({ids + at, n, true}); });
    pieces_.push_back({nullptr, kChecksumSize, false});
    size_ = kHeaderSize + index.size() * (code_bytes + 8) + kChecksumSize;
    blake3_hasher_init(&hasher_);
}

FormatResult<void> IndexWriter::write_piece(std::size_t i, ByteSink& sink) {
    const Piece& p = pieces_[i];
    std::span<const std::uint8_t> bytes(p.data, p.size);
    if (!p.data) {
        scratch_.resize(kChecksumSize);
        blake3_hasher_finalize(&hasher_, scratch_.data(), kChecksumSize);
        bytes = scratch_;
    } else if (p.ids && std::endian::native == std::endian::big) {
        scratch_.assign(p.data, p.data + p.size);
        ids_to_little_endian(reinterpret_cast<std::int64_t*>(scratch_.data()), p.size / 8);
        bytes = scratch_;
    }
    blake3_hasher_update(&hasher_, bytes.data(), bytes.size());
    return sink.write(bytes);
}

// ------------------------------------------------------------------- reader

FormatResult<IndexReader> IndexReader::start(ByteSource& source) {
    const std::uint64_t size = source.size();
    std::uint8_t header[kHeaderSize] = {};
    const std::size_t head = static_cast<std::size_t>(std::min<std::uint64_t>(size, kHeaderSize));
    if (auto ok = source.read({header, head}); !ok) return refuse_as<IndexReader>(ok);
    const std::size_t magic = std::min(head, sizeof kMagic);
    if (std::memcmp(header, kMagic, magic) != 0 || size == 0)
        return refuse_as<IndexReader>(refuse("is not a HammingIndex file (it does not begin with the index magic)"));
    if (head < kHeaderSize)
        return refuse_as<IndexReader>(
            refuse("is truncated: " + std::to_string(size) + " bytes, shorter than the 32-byte header"));
    const std::uint64_t version = get_le(header + 8, 4);
    if (version != kIndexFormatVersion)
        return refuse_as<IndexReader>(refuse("has format version " + std::to_string(version) +
                                             ", and this build reads version " + std::to_string(kIndexFormatVersion)));
    const std::uint64_t code_bytes = get_le(header + 12, 4);
    if (code_bytes != 8 && code_bytes != 16)
        return refuse_as<IndexReader>(
            refuse("has code size " + std::to_string(code_bytes) + " (8 or 16 bytes expected)"));
    const std::uint64_t n = get_le(header + 16, 8);
    // n is compared with what the size allows before anything is multiplied.
    const std::uint64_t room = size - kHeaderSize;
    const bool fits = room >= kChecksumSize && n <= (room - kChecksumSize) / (code_bytes + 8);
    if (!fits || kHeaderSize + n * (code_bytes + 8) + kChecksumSize != size) {
        const std::string count = std::to_string(n) + " codes of " + std::to_string(code_bytes) + " bytes";
        return refuse_as<IndexReader>(refuse((fits ? "is damaged: " : "is truncated: ") + std::to_string(size) +
                                             " bytes, which does not match the " + count + " its header announces"));
    }
    IndexReader r;
    r.words_ = static_cast<unsigned>(code_bytes / 8);
    r.next_id_ = get_le(header + 24, 8);
    r.codes_.resize(static_cast<std::size_t>(n) * r.words_);
    r.ids_.resize(static_cast<std::size_t>(n));
    auto* codes = reinterpret_cast<std::uint8_t*>(r.codes_.data());
    auto* ids = reinterpret_cast<std::uint8_t*>(r.ids_.data());
    cut(r.codes_.size() * 8, [&](std::size_t at, std::size_t len) { r.pieces_.emplace_back(codes + at, len); });
    cut(r.ids_.size() * 8, [&](std::size_t at, std::size_t len) { r.pieces_.emplace_back(ids + at, len); });
    blake3_hasher_init(&r.hasher_);
    blake3_hasher_update(&r.hasher_, header, kHeaderSize);
    return r;
}

FormatResult<void> IndexReader::read_piece(std::size_t i, ByteSource& source) {
    if (auto ok = source.read(pieces_[i]); !ok) return ok;
    blake3_hasher_update(&hasher_, pieces_[i].data(), pieces_[i].size());
    return {};
}

FormatResult<HammingIndex> IndexReader::finish(ByteSource& source) {
    std::uint8_t stored[kChecksumSize], computed[kChecksumSize];
    if (auto ok = source.read(stored); !ok) return refuse_as<HammingIndex>(ok);
    blake3_hasher_finalize(&hasher_, computed, kChecksumSize);
    if (std::memcmp(stored, computed, kChecksumSize) != 0)
        return refuse_as<HammingIndex>(refuse("is damaged: its checksum does not match its contents"));
    ids_to_little_endian(ids_.data(), ids_.size());
    const bool negative = std::any_of(ids_.begin(), ids_.end(), [](std::int64_t id) { return id < 0; });
    if (negative || next_id_ > static_cast<std::uint64_t>(INT64_MAX))
        return refuse_as<HammingIndex>(refuse("is damaged: it holds a negative id"));
    return HammingIndex(words_, std::move(codes_), std::move(ids_), next_id_);
}

}  // namespace mivo::collections
