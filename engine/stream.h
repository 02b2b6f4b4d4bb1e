// Byte streams used by the archive engine: the archive itself, source files,
// restored files and in-memory buffers all go through this one interface, so
// tests can put a failing stream anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace arcovelo {

// Raised by streams and file services; carries the system's or stream's message.
class StreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class SeekOrigin { Begin, Current, End };

class Stream {
public:
    virtual ~Stream() = default;

    // Reads up to `count` bytes; returns how many were read (fewer only at the
    // end of the data). Throws StreamError on an I/O error.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    // Writes up to `count` bytes; returns how many were taken. Throws
    // StreamError on an I/O error.
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    // Moves the position and returns the new one. Throws StreamError.
    virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;
    virtual std::int64_t Position() = 0;
    virtual std::int64_t Size() = 0;

    // Reads exactly `count` bytes or throws StreamError("Stream read error").
    void ReadBuffer(void* buffer, std::size_t count);
    // Writes exactly `count` bytes or throws StreamError("Stream write error").
    void WriteBuffer(const void* buffer, std::size_t count);

    std::int32_t ReadInt32();
    void WriteInt32(std::int32_t value);
};

// A growable buffer in memory.
class MemoryStream : public Stream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<std::uint8_t> bytes) : data_(std::move(bytes)) {}

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    std::int64_t Position() override { return position_; }
    std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }

    const std::vector<std::uint8_t>& Bytes() const { return data_; }

private:
    std::vector<std::uint8_t> data_;
    std::int64_t position_ = 0;
};

// Gathers the archive's many small writes (lengths, names, chunks) into writes
// of `capacity` bytes or more to `inner`. Flush before `inner` is used in any
// other way (synced, closed, read). Writing only: Read and Seek fail.
class BufferedWriter : public Stream {
public:
    explicit BufferedWriter(Stream& inner, std::size_t capacity = 64 * 1024);
    std::size_t Read(void*, std::size_t) override { throw StreamError("Stream read error"); }
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t, SeekOrigin) override { throw StreamError("Stream seek error"); }
    std::int64_t Position() override { return written_ + static_cast<std::int64_t>(buffer_.size()); }
    std::int64_t Size() override { return Position(); }
    // Hands what is gathered to `inner`. Throws StreamError; what could not
    // be written is dropped.
    void Flush();

private:
    Stream& inner_;
    std::size_t capacity_;
    std::vector<std::uint8_t> buffer_;
    std::int64_t written_;  // the position of `inner` after the last flush
};

// Reads `inner` in blocks of `capacity` bytes for a reader that asks field by
// field; seeks within the block move no data. Reading only: Write fails.
// `inner` must not change while it is read (its size is asked once).
class BufferedReader : public Stream {
public:
    explicit BufferedReader(Stream& inner, std::size_t capacity = 64 * 1024);
    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void*, std::size_t) override { throw StreamError("Stream write error"); }
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    std::int64_t Position() override { return start_ + static_cast<std::int64_t>(at_); }
    std::int64_t Size() override;

private:
    Stream& inner_;
    std::vector<std::uint8_t> buffer_;
    std::size_t at_ = 0;   // next byte of the block
    std::size_t end_ = 0;  // bytes in the block
    std::int64_t start_;   // where the block begins in `inner`
    std::int64_t size_ = -1;
};

// Takes every byte written and keeps none: the destination of an archive check.
class NullStream : public Stream {
public:
    std::size_t Read(void*, std::size_t) override { return 0; }
    std::size_t Write(const void*, std::size_t count) override
    {
        size_ += static_cast<std::int64_t>(count);
        return count;
    }
    std::int64_t Seek(std::int64_t, SeekOrigin) override { return size_; }
    std::int64_t Position() override { return size_; }
    std::int64_t Size() override { return size_; }

private:
    std::int64_t size_ = 0;
};

}  // namespace arcovelo
