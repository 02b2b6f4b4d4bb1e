#include "stream.h"

#include <algorithm>
#include <cstring>

namespace arcovelo {

void Stream::ReadBuffer(void* buffer, std::size_t count)
{
    if (count != 0 && Read(buffer, count) != count)
        throw StreamError("Stream read error");
}

void Stream::WriteBuffer(const void* buffer, std::size_t count)
{
    if (count != 0 && Write(buffer, count) != count)
        throw StreamError("Stream write error");
}

// Archive integers are 32-bit little-endian whatever the host's byte order.
std::int32_t Stream::ReadInt32()
{
    std::uint8_t b[4];
    ReadBuffer(b, 4);
    return static_cast<std::int32_t>(std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 |
                                     std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24);
}

void Stream::WriteInt32(std::int32_t value)
{
    const auto v = static_cast<std::uint32_t>(value);
    const std::uint8_t b[4] = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16),
                               std::uint8_t(v >> 24)};
    WriteBuffer(b, 4);
}

std::size_t MemoryStream::Read(void* buffer, std::size_t count)
{
    const auto size = static_cast<std::int64_t>(data_.size());
    if (position_ >= size)
        return 0;
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(size - position_, count));
    std::memcpy(buffer, data_.data() + position_, n);
    position_ += static_cast<std::int64_t>(n);
    return n;
}

std::size_t MemoryStream::Write(const void* buffer, std::size_t count)
{
    const auto end = static_cast<std::size_t>(position_) + count;
    // Grown by a quarter, not doubled: a file-ID list of a million names
    // would otherwise take up to twice its size while it is read.
    if (end > data_.capacity())
        data_.reserve(std::max(end, data_.capacity() + data_.capacity() / 4));
    if (end > data_.size())
        data_.resize(end);
    std::memcpy(data_.data() + position_, buffer, count);
    position_ = static_cast<std::int64_t>(end);
    return count;
}

std::int64_t MemoryStream::Seek(std::int64_t offset, SeekOrigin origin)
{
    std::int64_t base = 0;
    if (origin == SeekOrigin::Current)
        base = position_;
    else if (origin == SeekOrigin::End)
        base = Size();
    const std::int64_t target = base + offset;
    if (target < 0)
        throw StreamError("Stream seek error");
    position_ = target;
    return position_;
}

BufferedWriter::BufferedWriter(Stream& inner, std::size_t capacity)
    : inner_(inner), capacity_(capacity), written_(inner.Position())
{
    buffer_.reserve(capacity_);
}

std::size_t BufferedWriter::Write(const void* buffer, std::size_t count)
{
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    buffer_.insert(buffer_.end(), bytes, bytes + count);
    if (buffer_.size() >= capacity_)
        Flush();
    return count;
}

void BufferedWriter::Flush()
{
    if (buffer_.empty())
        return;
    std::vector<std::uint8_t> pending;
    pending.swap(buffer_);
    buffer_.reserve(capacity_);
    written_ += static_cast<std::int64_t>(pending.size());
    inner_.WriteBuffer(pending.data(), pending.size());
}

BufferedReader::BufferedReader(Stream& inner, std::size_t capacity)
    : inner_(inner), buffer_(capacity), start_(inner.Position())
{
}

std::size_t BufferedReader::Read(void* buffer, std::size_t count)
{
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        if (at_ == end_) {
            start_ += static_cast<std::int64_t>(end_);
            at_ = end_ = 0;
            if (count - done >= buffer_.size()) {  // large reads go straight through
                const std::size_t n = inner_.Read(out + done, count - done);
                start_ += static_cast<std::int64_t>(n);
                return done + n;
            }
            end_ = inner_.Read(buffer_.data(), buffer_.size());
            if (end_ == 0)
                break;
        }
        const std::size_t n = std::min(count - done, end_ - at_);
        std::memcpy(out + done, buffer_.data() + at_, n);
        at_ += n;
        done += n;
    }
    return done;
}

std::int64_t BufferedReader::Seek(std::int64_t offset, SeekOrigin origin)
{
    const std::int64_t target = origin == SeekOrigin::Begin     ? offset
                                : origin == SeekOrigin::Current ? Position() + offset
                                                                : Size() + offset;
    if (target >= start_ && target <= start_ + static_cast<std::int64_t>(end_)) {
        at_ = static_cast<std::size_t>(target - start_);
        return target;
    }
    start_ = inner_.Seek(target, SeekOrigin::Begin);
    at_ = end_ = 0;
    return start_;
}

std::int64_t BufferedReader::Size()
{
    if (size_ < 0)
        size_ = inner_.Size();
    return size_;
}

}  // namespace arcovelo
