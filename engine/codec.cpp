#include "codec.h"

#include <zlib.h>

#include <new>

namespace arcovelo {

ChunkCompressor::ChunkCompressor(int zlibLevel) : level_(zlibLevel) {}

ChunkCompressor::~ChunkCompressor()
{
    if (stream_ != nullptr) {
        deflateEnd(stream_);
        delete stream_;
    }
}

CompressResult ChunkCompressor::Compress(const std::uint8_t* in, std::size_t size, std::uint8_t* out,
                                         std::size_t& outSize)
{
    outSize = 0;
    if (stream_ == nullptr) {
        auto* z = new (std::nothrow) z_stream{};
        if (z == nullptr)
            return CompressResult::Error;
        if (deflateInit2(z, level_, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            delete z;
            return CompressResult::Error;
        }
        stream_ = z;
    } else if (deflateReset(stream_) != Z_OK) {
        return CompressResult::Error;
    }
    stream_->next_in = const_cast<Bytef*>(in);
    stream_->avail_in = static_cast<uInt>(size);
    stream_->next_out = out;
    stream_->avail_out = static_cast<uInt>(kChunkSize);
    const int result = deflate(stream_, Z_FINISH);
    if (result == Z_STREAM_END) {
        outSize = stream_->total_out;
        return CompressResult::Compressed;
    }
    // Z_OK: the output buffer filled before the stream could end.
    return result == Z_OK ? CompressResult::Raw : CompressResult::Error;
}

ChunkInflater::ChunkInflater() = default;

ChunkInflater::~ChunkInflater()
{
    if (stream_ != nullptr) {
        inflateEnd(stream_);
        delete stream_;
    }
}

InflateResult ChunkInflater::Inflate(const std::uint8_t* in, std::size_t size, std::uint8_t* out,
                                     std::size_t& outSize)
{
    outSize = 0;
    if (stream_ == nullptr) {
        auto* z = new (std::nothrow) z_stream{};
        if (z == nullptr)
            return InflateResult::Error;
        if (inflateInit2(z, 15) != Z_OK) {
            delete z;
            return InflateResult::Error;
        }
        stream_ = z;
    } else if (inflateReset(stream_) != Z_OK) {
        return InflateResult::Error;
    }
    stream_->next_in = const_cast<Bytef*>(in);
    stream_->avail_in = static_cast<uInt>(size);
    stream_->next_out = out;
    stream_->avail_out = static_cast<uInt>(kChunkSize);
    const int result = inflate(stream_, Z_NO_FLUSH);
    outSize = stream_->total_out;
    if (result < 0)
        return InflateResult::Error;
    return result == Z_STREAM_END ? InflateResult::Ok : InflateResult::Invalid;
}

}  // namespace arcovelo
