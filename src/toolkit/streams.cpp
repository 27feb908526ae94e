#include "toolkit/streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "toolkit/sb_exception.h"

namespace SignCore {

TFileStream::TFileStream(const std::string& path, Mode mode) {
    int flags = O_CLOEXEC;
    switch (mode) {
        case Mode::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
        case Mode::OpenRead: flags |= O_RDONLY; break;
        case Mode::OpenReadWrite: flags |= O_RDWR; break;
    }
    fd_ = ::open(path.c_str(), flags, 0644);
    if (fd_ < 0)
        throw SBException(kRuntimeError, "EFOpenError", "Cannot open file \"" + path + "\": " + std::strerror(errno),
                          static_cast<std::uint32_t>(errno));
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd_, static_cast<char*>(buffer) + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, static_cast<const char*>(buffer) + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            throw SBException(kRuntimeError, "EWriteError", std::strerror(errno), static_cast<std::uint32_t>(errno));
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, SeekOrigin origin) {
    const int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::End ? SEEK_END : SEEK_CUR;
    const off_t at = ::lseek(fd_, offset, whence);
    if (at < 0) throw SBException(kRuntimeError, "ESeekError", std::strerror(errno), static_cast<std::uint32_t>(errno));
    return at;
}

std::int64_t TFileStream::Size() {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return 0;
    return st.st_size;
}

void TFileStream::Flush() { ::fsync(fd_); }

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
    if (position_ >= data_.size()) return 0;
    const std::size_t n = std::min(count, data_.size() - position_);
    std::memcpy(buffer, data_.data() + position_, n);
    position_ += n;
    return n;
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count) {
    if (count == 0) return 0;
    if (position_ + count > data_.size()) data_.resize(position_ + count);
    std::memcpy(data_.data() + position_, buffer, count);
    position_ += count;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, SeekOrigin origin) {
    std::int64_t base = origin == SeekOrigin::Begin ? 0
                        : origin == SeekOrigin::End ? static_cast<std::int64_t>(data_.size())
                                                    : static_cast<std::int64_t>(position_);
    std::int64_t at = base + offset;
    if (at < 0) at = 0;
    position_ = static_cast<std::size_t>(at);
    return at;
}

}  // namespace SignCore
