// Chunk codec: every chunk of an archive is one independent zlib stream
// (RFC 1950) of at most 16384 bytes, so any one chunk can be decoded alone.
// Each object keeps one zlib stream and resets it between chunks, which gives
// the same bytes as a fresh stream per chunk without its set-up cost.
// Not thread-safe: one object per thread.
#pragma once

#include <cstddef>
#include <cstdint>

typedef struct z_stream_s z_stream;

namespace arcovelo {

constexpr std::size_t kChunkSize = 16384;

enum class CompressResult {
    Compressed,  // `outSize` bytes of zlib stream
    Raw,         // the stream would not fit in kChunkSize bytes: store the input
    Error,       // zlib failed: "Compression error"
};

enum class InflateResult {
    Ok,       // the stream ended; `outSize` bytes decoded
    Error,    // zlib reported an error; `outSize` bytes decoded before it
    Invalid,  // the stream does not end within its bytes or decodes to more than kChunkSize
};

class ChunkCompressor {
public:
    // `zlibLevel` as zlib takes it: 0 to 9, or -1 for zlib's default.
    explicit ChunkCompressor(int zlibLevel);
    ~ChunkCompressor();
    ChunkCompressor(const ChunkCompressor&) = delete;
    ChunkCompressor& operator=(const ChunkCompressor&) = delete;

    // Compresses `size` (at most kChunkSize) bytes into `out` (kChunkSize bytes)
    // with one Z_FINISH call.
    CompressResult Compress(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t& outSize);

private:
    int level_;
    z_stream* stream_ = nullptr;
};

class ChunkInflater {
public:
    ChunkInflater();
    ~ChunkInflater();
    ChunkInflater(const ChunkInflater&) = delete;
    ChunkInflater& operator=(const ChunkInflater&) = delete;

    // Inflates the `size`-byte stream at `in` into `out` (kChunkSize bytes)
    // with one call.
    InflateResult Inflate(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t& outSize);

private:
    z_stream* stream_ = nullptr;
};

}  // namespace arcovelo
