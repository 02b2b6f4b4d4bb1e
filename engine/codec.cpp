#include "codec.h"

#include <zlib.h>

#ifdef ARCOVELO_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace arcovelo {

CodecKind DefaultCodec()
{
#if defined(ARCOVELO_HAVE_LIBDEFLATE) && !defined(ARCOVELO_DEFAULT_ZLIB)
    return CodecKind::Libdeflate;
#else
    return CodecKind::Zlib;
#endif
}

bool CodecAvailable(CodecKind kind)
{
#ifdef ARCOVELO_HAVE_LIBDEFLATE
    (void)kind;
    return true;
#else
    return kind == CodecKind::Zlib;
#endif
}

namespace {

// One zlib stream kept per object and reset between chunks: the same bytes
// as a fresh stream per chunk without its set-up cost.
class ZlibDeflate {
public:
    explicit ZlibDeflate(int level) : level_(level) {}
    ~ZlibDeflate()
    {
        if (ready_)
            deflateEnd(&z_);
    }

    CompressResult Compress(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t& outSize)
    {
        outSize = 0;
        if (!ready_) {
            if (deflateInit2(&z_, level_, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
                return CompressResult::Error;
            ready_ = true;
        } else if (deflateReset(&z_) != Z_OK) {
            return CompressResult::Error;
        }
        z_.next_in = const_cast<Bytef*>(in);
        z_.avail_in = static_cast<uInt>(size);
        z_.next_out = out;
        z_.avail_out = static_cast<uInt>(kChunkSize);
        const int result = deflate(&z_, Z_FINISH);
        if (result == Z_STREAM_END) {
            outSize = z_.total_out;
            return CompressResult::Compressed;
        }
        // Z_OK: the output buffer filled before the stream could end.
        return result == Z_OK ? CompressResult::Raw : CompressResult::Error;
    }

private:
    int level_;
    z_stream z_{};
    bool ready_ = false;
};

class ZlibInflate {
public:
    ~ZlibInflate()
    {
        if (ready_)
            inflateEnd(&z_);
    }

    InflateResult Inflate(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t& outSize)
    {
        outSize = 0;
        if (!ready_) {
            if (inflateInit2(&z_, 15) != Z_OK)
                return InflateResult::Error;
            ready_ = true;
        } else if (inflateReset(&z_) != Z_OK) {
            return InflateResult::Error;
        }
        z_.next_in = const_cast<Bytef*>(in);
        z_.avail_in = static_cast<uInt>(size);
        z_.next_out = out;
        z_.avail_out = static_cast<uInt>(kChunkSize);
        const int result = inflate(&z_, Z_NO_FLUSH);
        outSize = z_.total_out;
        if (result < 0)
            return InflateResult::Error;
        return result == Z_STREAM_END ? InflateResult::Ok : InflateResult::Invalid;
    }

private:
    z_stream z_{};
    bool ready_ = false;
};

}  // namespace

struct ChunkCompressor::Backend {
    Backend(int level, CodecKind kind) : zlib(level)
    {
#ifdef ARCOVELO_HAVE_LIBDEFLATE
        // Stored blocks (level 0) always come from zlib.
        if (kind == CodecKind::Libdeflate && level != 0)
            fast = libdeflate_alloc_compressor(level < 0 ? 6 : level);
#else
        (void)kind;
#endif
    }
    ~Backend()
    {
#ifdef ARCOVELO_HAVE_LIBDEFLATE
        if (fast != nullptr)
            libdeflate_free_compressor(fast);
#endif
    }

    CompressResult Compress(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t& outSize)
    {
#ifdef ARCOVELO_HAVE_LIBDEFLATE
        if (fast != nullptr) {
            // 0 means the stream does not fit in the chunk: store it raw.
            outSize = libdeflate_zlib_compress(fast, in, size, out, kChunkSize);
            return outSize != 0 ? CompressResult::Compressed : CompressResult::Raw;
        }
#endif
        return zlib.Compress(in, size, out, outSize);
    }

    ZlibDeflate zlib;
#ifdef ARCOVELO_HAVE_LIBDEFLATE
    libdeflate_compressor* fast = nullptr;
#endif
};

struct ChunkInflater::Backend {
    explicit Backend(CodecKind kind)
    {
#ifdef ARCOVELO_HAVE_LIBDEFLATE
        if (kind == CodecKind::Libdeflate)
            fast = libdeflate_alloc_decompressor();
#else
        (void)kind;
#endif
    }
    ~Backend()
    {
#ifdef ARCOVELO_HAVE_LIBDEFLATE
        if (fast != nullptr)
            libdeflate_free_decompressor(fast);
#endif
    }

    InflateResult Inflate(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t& outSize)
    {
#ifdef ARCOVELO_HAVE_LIBDEFLATE
        if (fast != nullptr) {
            std::size_t used = 0;
            const auto r = libdeflate_zlib_decompress_ex(fast, in, size, out, kChunkSize, &used, &outSize);
            if (r == LIBDEFLATE_SUCCESS)
                return InflateResult::Ok;
            if (r == LIBDEFLATE_INSUFFICIENT_SPACE)
                return InflateResult::Invalid;
            // Damaged data: zlib tells a cut-off stream from a corrupt one
            // and yields the output decoded before the damage.
        }
#endif
        return zlib.Inflate(in, size, out, outSize);
    }

    ZlibInflate zlib;
#ifdef ARCOVELO_HAVE_LIBDEFLATE
    libdeflate_decompressor* fast = nullptr;
#endif
};

ChunkCompressor::ChunkCompressor(int zlibLevel, CodecKind kind) : backend_(std::make_unique<Backend>(zlibLevel, kind))
{
}
ChunkCompressor::~ChunkCompressor() = default;

CompressResult ChunkCompressor::Compress(const std::uint8_t* in, std::size_t size, std::uint8_t* out,
                                         std::size_t& outSize)
{
    return backend_->Compress(in, size, out, outSize);
}

ChunkInflater::ChunkInflater(CodecKind kind) : backend_(std::make_unique<Backend>(kind)) {}
ChunkInflater::~ChunkInflater() = default;

InflateResult ChunkInflater::Inflate(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t& outSize)
{
    return backend_->Inflate(in, size, out, outSize);
}

}  // namespace arcovelo
