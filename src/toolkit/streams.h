// Byte streams, a pointer list and a reader/writer lock, as the service uses them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

namespace SignCore {

enum class SeekOrigin { Begin, Current, End };

class TStream {
public:
    virtual ~TStream() = default;
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;
    virtual std::int64_t Size() = 0;
    std::int64_t Position() { return Seek(0, SeekOrigin::Current); }
    std::size_t WriteText(const std::string& text) { return Write(text.data(), text.size()); }
};

// A file. Create mode makes the file anew (an existing one is emptied);
// Open mode opens an existing file for reading and writing.
class TFileStream : public TStream {
public:
    enum class Mode { Create, OpenRead, OpenReadWrite };
    TFileStream(const std::string& path, Mode mode);  // raises SBException when it cannot open
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    std::int64_t Size() override;
    void Flush();

private:
    int fd_ = -1;
};

class TMemoryStream : public TStream {
public:
    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
    void Clear() {
        data_.clear();
        data_.shrink_to_fit();
        position_ = 0;
    }
    const std::vector<std::uint8_t>& Data() const { return data_; }

private:
    std::vector<std::uint8_t> data_;
    std::size_t position_ = 0;
};

// A list of pointers; ownership is the holder's business.
template <class T>
class TList {
public:
    void Add(T* item) { items_.push_back(item); }
    bool Remove(T* item) {
        for (auto it = items_.begin(); it != items_.end(); ++it)
            if (*it == item) {
                items_.erase(it);
                return true;
            }
        return false;
    }
    std::size_t Count() const { return items_.size(); }
    T* operator[](std::size_t index) const { return items_[index]; }
    std::vector<T*> Snapshot() const { return items_; }

private:
    std::vector<T*> items_;
};

// Reader/writer lock.
class TElSharedResource {
public:
    void WaitToRead() { lock_.lock_shared(); }
    void WaitToWrite() { lock_.lock(); }
    void DoneRead() { lock_.unlock_shared(); }
    void DoneWrite() { lock_.unlock(); }

private:
    std::shared_mutex lock_;
};

}  // namespace SignCore
