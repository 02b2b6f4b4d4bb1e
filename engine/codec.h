// Chunk codec: every chunk of an archive is one independent zlib stream
// (RFC 1950) of at most 16384 bytes, so any one chunk can be decoded alone.
// Two backends produce such streams: libdeflate (the default, much faster
// whole-buffer deflate) and zlib (level 0 always, and the whole codec when
// built with -DARCOVELO_CODEC=zlib). A chunk is stored raw exactly when its
// stream would not fit in 16384 bytes, whichever backend made it.
// Not thread-safe: one object per thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace arcovelo {

constexpr std::size_t kChunkSize = 16384;

enum class CodecKind { Zlib, Libdeflate };

// The backend this build uses unless told otherwise.
CodecKind DefaultCodec();
// Whether `kind` is compiled into this build.
bool CodecAvailable(CodecKind kind);

enum class CompressResult {
    Compressed,  // `outSize` bytes of zlib stream
    Raw,         // the stream would not fit in kChunkSize bytes: store the input
    Error,       // the compressor failed: "Compression error"
};

enum class InflateResult {
    Ok,       // the stream ended; `outSize` bytes decoded
    Error,    // corrupt data; `outSize` bytes decoded before it
    Invalid,  // the stream does not end within its bytes or decodes to more than kChunkSize
};

class ChunkCompressor {
public:
    // `zlibLevel` as zlib takes it: 0 to 9, or -1 for the default (6).
    explicit ChunkCompressor(int zlibLevel, CodecKind kind = DefaultCodec());
    ~ChunkCompressor();
    ChunkCompressor(const ChunkCompressor&) = delete;
    ChunkCompressor& operator=(const ChunkCompressor&) = delete;

    // Compresses `size` (at most kChunkSize) bytes into `out` (kChunkSize bytes).
    CompressResult Compress(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t& outSize);

    struct Backend;

private:
    std::unique_ptr<Backend> backend_;
};

class ChunkInflater {
public:
    explicit ChunkInflater(CodecKind kind = DefaultCodec());
    ~ChunkInflater();
    ChunkInflater(const ChunkInflater&) = delete;
    ChunkInflater& operator=(const ChunkInflater&) = delete;

    // Inflates the `size`-byte stream at `in` into `out` (kChunkSize bytes).
    InflateResult Inflate(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t& outSize);

    struct Backend;

private:
    std::unique_ptr<Backend> backend_;
};

}  // namespace arcovelo
