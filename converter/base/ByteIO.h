// Bounds-checked reading of untrusted bytes and checked writing of output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace korvalin {

// A cursor over a block of bytes. A read past the end returns 0, moves the
// cursor to the end and sets a sticky failure flag, so a caller may run a
// whole record of reads and check ok() once.
class ByteReader {
  public:
    ByteReader() = default;
    explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}

    bool ok() const { return !failed_; }
    bool atEnd() const { return pos_ >= data_.size(); }
    std::size_t position() const { return pos_; }
    std::size_t size() const { return data_.size(); }
    std::size_t remaining() const { return data_.size() - pos_; }

    // Inline: the MIDI reader takes most of its bytes one at a time.
    std::uint8_t readU8() {
        if (pos_ < data_.size()) return data_[pos_++];
        need(1);  // fails and marks the input as ended
        return 0;
    }
    std::uint16_t readU16BE();
    std::uint32_t readU32BE();
    std::uint16_t readU16LE();
    std::uint32_t readU32LE();
    // Copies n bytes into out; on a short read copies what is there, zero-fills
    // the rest and fails.
    bool readBytes(void* out, std::size_t n);
    // Moves forward n bytes; past the end it stops at the end and fails.
    bool skip(std::size_t n);
    // Moves to an absolute position; beyond the end it stops at the end and fails.
    bool seek(std::size_t position);
    // The next n bytes as a view without moving, or an empty span when short.
    std::span<const std::uint8_t> peek(std::size_t n) const;

  private:
    bool need(std::size_t n);

    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

// An allocator that leaves the elements a resize adds uninitialised: a
// buffer that a read fills at once need not be cleared first.
template <class T>
struct UninitAllocator : std::allocator<T> {
    using value_type = T;
    template <class U>
    struct rebind {
        using other = UninitAllocator<U>;
    };
    UninitAllocator() = default;
    template <class U>
    UninitAllocator(const UninitAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// The contents of a file read whole.
using FileBytes = std::vector<std::uint8_t, UninitAllocator<std::uint8_t>>;

// Reads a whole file. Returns false and sets errorNumber (errno) on failure.
bool readWholeFile(const std::string& path, FileBytes& out, int& errorNumber);

// A source of file contents held in memory, asked before the file system:
// returns true and fills `out` when it serves `path`. The pipeline fuzz
// target serves its patch this way; a normal run sets none.
using MemoryFileSource = bool (*)(const std::string& path, std::vector<std::uint8_t>& out);
void setMemoryFileSource(MemoryFileSource source);

// One input file read in byte ranges: served by the memory source when it
// holds the path, read whole first when it is not a regular file, and
// otherwise read range by range with positioned reads (one system call a
// range, no stdio buffer), so that only the bytes asked for are read.
class RangeFile {
  public:
    RangeFile() = default;
    RangeFile(const RangeFile&) = delete;
    RangeFile& operator=(const RangeFile&) = delete;
    ~RangeFile();

    // Returns false and sets errorNumber when the file cannot be opened or read.
    bool open(const std::string& path, int& errorNumber);
    std::size_t size() const { return size_; }
    // Reads n bytes at offset into `to`. Returns false when they are not all
    // there: errorNumber is then the system error, or 0 when the file ended first.
    bool read(std::size_t offset, std::uint8_t* to, std::size_t n, int& errorNumber);
    // Reads up to n bytes at offset into `to`, fewer where the file ends, and
    // sets count to the bytes read. Returns false with errorNumber set on a
    // system error.
    bool readSome(std::size_t offset, std::uint8_t* to, std::size_t n, std::size_t& count,
                  int& errorNumber);

  private:
    int fd_ = -1;
    FileBytes whole_;
    std::size_t size_ = 0;
};

// Destination of the module bytes. A failed or short write sets a sticky
// failure with its system error number; later writes are dropped.
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    bool write(const void* data, std::size_t n);
    bool write(const std::vector<std::uint8_t>& bytes) { return write(bytes.data(), bytes.size()); }
    bool ok() const { return error_ == 0; }
    int error() const { return error_; }
    std::uint64_t written() const { return written_; }

  protected:
    // Writes all n bytes or returns false with errorNumber set.
    virtual bool doWrite(const void* data, std::size_t n, int& errorNumber) = 0;

  private:
    int error_ = 0;
    std::uint64_t written_ = 0;
};

// A buffer that lets a stream written in many pieces go out in few large
// writes: the kernel takes 256 KiB in one write far more cheaply than in 64
// writes of the default 4 KiB. It serves one stream and must outlive every
// use of it, its closing included.
class StreamBuffer {
  public:
    static constexpr std::size_t kBytes = std::size_t{1} << 18;
    // Gives `file`, opened and not yet used, this buffer; false when it keeps its own.
    bool attachTo(std::FILE* file);

  private:
    std::unique_ptr<char[]> bytes_;
};

// Writes to a stdio stream. With `writeLargeDirectly` (for a stream with a
// StreamBuffer), a write of kDirectBytes or more passes the stream's buffer:
// what the buffer holds goes out first, then the caller's bytes go to the
// file straight from where they are, instead of being copied into the buffer
// on their way (sample data, the bulk of a module, is written so).
class FileSink final : public ByteSink {
  public:
    static constexpr std::size_t kDirectBytes = std::size_t{1} << 15;
    explicit FileSink(std::FILE* file, bool writeLargeDirectly = false)
        : file_(file), writeLargeDirectly_(writeLargeDirectly) {}

  protected:
    bool doWrite(const void* data, std::size_t n, int& errorNumber) override;

  private:
    std::FILE* file_;
    bool writeLargeDirectly_;
};

class MemorySink final : public ByteSink {
  public:
    std::vector<std::uint8_t> bytes;
    // Makes every write fail with this error once `limit` bytes are stored (tests of a full disk).
    std::size_t limit = SIZE_MAX;
    int limitError = 28;  // ENOSPC

  protected:
    bool doWrite(const void* data, std::size_t n, int& errorNumber) override;
};

// Little-endian appenders for building on-disk records in memory.
inline void putU8(std::vector<std::uint8_t>& out, std::uint8_t v) {
    out.push_back(v);
}
inline void putU16LE(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void putU32LE(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void putBytes(std::vector<std::uint8_t>& out, const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    out.insert(out.end(), p, p + n);
}

}  // namespace korvalin
