#include "base/ByteIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/Alloc.h"

namespace korvalin {

bool ByteReader::need(std::size_t n) {
    if (n <= remaining()) return true;
    pos_ = data_.size();
    failed_ = true;
    return false;
}

std::uint16_t ByteReader::readU16BE() {
    if (!need(2)) return 0;
    const auto v = static_cast<std::uint16_t>((data_[pos_] << 8) | data_[pos_ + 1]);
    pos_ += 2;
    return v;
}

std::uint32_t ByteReader::readU32BE() {
    if (!need(4)) return 0;
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | data_[pos_++];
    return v;
}

std::uint16_t ByteReader::readU16LE() {
    if (!need(2)) return 0;
    const auto v = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
}

std::uint32_t ByteReader::readU32LE() {
    if (!need(4)) return 0;
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | data_[pos_ + static_cast<std::size_t>(i)];
    pos_ += 4;
    return v;
}

bool ByteReader::readBytes(void* out, std::size_t n) {
    const std::size_t have = std::min(n, remaining());
    if (have > 0) std::memcpy(out, data_.data() + pos_, have);
    if (have < n) std::memset(static_cast<std::uint8_t*>(out) + have, 0, n - have);
    pos_ += have;
    if (have < n) failed_ = true;
    return have == n;
}

bool ByteReader::skip(std::size_t n) {
    if (!need(n)) return false;
    pos_ += n;
    return true;
}

bool ByteReader::seek(std::size_t position) {
    if (position > data_.size()) {
        pos_ = data_.size();
        failed_ = true;
        return false;
    }
    pos_ = position;
    return true;
}

std::span<const std::uint8_t> ByteReader::peek(std::size_t n) const {
    if (n > remaining()) return {};
    return data_.subspan(pos_, n);
}

namespace {
MemoryFileSource memorySource = nullptr;

// Below this size a file's buffer takes few pages: they are left to be
// faulted in one by one as the file is read into them.
constexpr std::size_t kPrefaultBytes = 64 * 1024;

// Contents of `path` from the memory source, when it serves the path.
bool readFromMemory(const std::string& path, FileBytes& out) {
    std::vector<std::uint8_t> served;
    if (!memorySource || !memorySource(path, served)) return false;
    out.assign(served.begin(), served.end());
    return true;
}

}  // namespace

void setMemoryFileSource(MemoryFileSource source) {
    memorySource = source;
}

bool readWholeFile(const std::string& path, FileBytes& out, int& errorNumber) {
    out.clear();
    if (readFromMemory(path, out)) return true;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        errorNumber = errno;
        return false;
    }
    // Unbuffered, fread reads straight into the vector. A regular file is read
    // in one request of its size plus one byte, so that the short count shows
    // its end; other files (and files that grow meanwhile) go on in doubling
    // steps.
    std::setvbuf(f, nullptr, _IONBF, 0);
    std::size_t request = 65536;
    struct stat info {};
    if (fstat(fileno(f), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
        request = static_cast<std::size_t>(info.st_size) + 1;
    std::size_t size = 0;
    for (;;) {
        out.resize(size + request);
        // A large buffer is mapped in at once rather than a page fault at a time.
        if (request >= kPrefaultBytes) prefaultPages(out.data() + size, request);
        const std::size_t n = std::fread(out.data() + size, 1, request, f);
        size += n;
        if (n < request) break;
        request = std::max<std::size_t>(size, 65536);
    }
    out.resize(size);
    const bool failed = std::ferror(f) != 0;
    errorNumber = failed ? (errno ? errno : EIO) : 0;
    std::fclose(f);
    return !failed;
}

RangeFile::~RangeFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool RangeFile::open(const std::string& path, int& errorNumber) {
    if (readFromMemory(path, whole_)) {
        size_ = whole_.size();
        return true;
    }
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        errorNumber = errno;
        return false;
    }
    struct stat info {};
    if (fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) {
        size_ = static_cast<std::size_t>(info.st_size);
        return true;
    }
    ::close(fd_);
    fd_ = -1;
    if (!readWholeFile(path, whole_, errorNumber)) return false;
    size_ = whole_.size();
    return true;
}

bool RangeFile::readSome(std::size_t offset, std::uint8_t* to, std::size_t n, std::size_t& count,
                         int& errorNumber) {
    count = 0;
    if (fd_ < 0) {
        if (offset < whole_.size()) {
            count = std::min(n, whole_.size() - offset);
            std::copy_n(whole_.data() + offset, count, to);
        }
        return true;
    }
    // A read may return less than asked before the end; only 0 means the end.
    while (count < n) {
        const ssize_t got = ::pread(fd_, to + count, n - count, static_cast<off_t>(offset + count));
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            errorNumber = errno ? errno : EIO;
            return false;
        }
        count += static_cast<std::size_t>(got);
    }
    return true;
}

bool RangeFile::read(std::size_t offset, std::uint8_t* to, std::size_t n, int& errorNumber) {
    errorNumber = 0;
    std::size_t count = 0;
    // An error is reported as such; a file that has become shorter lacks the data.
    return readSome(offset, to, n, count, errorNumber) && count == n;
}

bool ByteSink::write(const void* data, std::size_t n) {
    if (error_ != 0) return false;
    if (n == 0) return true;
    int err = 0;
    if (!doWrite(data, n, err)) {
        error_ = err ? err : EIO;
        return false;
    }
    written_ += n;
    return true;
}

bool StreamBuffer::attachTo(std::FILE* file) {
    if (!bytes_) bytes_ = std::make_unique_for_overwrite<char[]>(kBytes);
    return std::setvbuf(file, bytes_.get(), _IOFBF, kBytes) == 0;
}

namespace {

// Writes all n bytes to the file descriptor, taking up after partial writes
// and interrupted calls.
bool writeAll(int fd, const void* data, std::size_t n, int& errorNumber) {
    const auto* from = static_cast<const std::uint8_t*>(data);
    while (n > 0) {
        const ssize_t wrote = ::write(fd, from, n);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            errorNumber = wrote < 0 && errno ? errno : EIO;
            return false;
        }
        from += wrote;
        n -= static_cast<std::size_t>(wrote);
    }
    return true;
}

}  // namespace

bool FileSink::doWrite(const void* data, std::size_t n, int& errorNumber) {
    errno = 0;
    if (writeLargeDirectly_ && n >= kDirectBytes) {
        // The buffered bytes come first in the file.
        if (std::fflush(file_) == 0) return writeAll(fileno(file_), data, n, errorNumber);
        errorNumber = errno ? errno : EIO;
        return false;
    }
    if (std::fwrite(data, 1, n, file_) == n) return true;
    errorNumber = errno ? errno : EIO;
    return false;
}

bool MemorySink::doWrite(const void* data, std::size_t n, int& errorNumber) {
    if (bytes.size() + n > limit) {
        errorNumber = limitError;
        return false;
    }
    putBytes(bytes, data, n);
    return true;
}

}  // namespace korvalin
