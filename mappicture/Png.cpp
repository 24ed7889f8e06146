// The PNG file is stb's image writer's, with zlib compressing the pixels: it
// packs large pictures better and faster than stb's own compressor. zlib's
// fastest level writes the whole map more than twice as fast as its default
// one, for a file a tenth larger. Compressing takes most of the time of a
// large picture, so it is shared by two threads.
#include "Png.h"

#include "Error.h"

#include <zlib.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

namespace {

// Below this many bytes of filtered rows one thread compresses them all.
constexpr int TwoThreadsFrom = 1 << 20;

// Deflates size bytes into out, which holds deflateBound of them and a few
// more; finish ends the stream, otherwise it ends on a byte boundary with the
// history forgotten, so that another stream may follow it (as pigz joins its
// pieces). The bytes written, or -1.
std::int64_t RawDeflate(const unsigned char* data, uInt size, unsigned char* out, uLong room, bool finish)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return -1;
    stream.next_in = const_cast<unsigned char*>(data);
    stream.avail_in = size;
    stream.next_out = out;
    stream.avail_out = static_cast<uInt>(room);
    const int result = deflate(&stream, finish ? Z_FINISH : Z_FULL_FLUSH);
    const bool done = finish ? result == Z_STREAM_END : result == Z_OK && stream.avail_in == 0 && stream.avail_out > 0;
    const auto written = static_cast<std::int64_t>(stream.total_out);
    deflateEnd(&stream);
    return done ? written : -1;
}

// Room for a raw stream of size bytes, and for a flush's empty block.
uLong RawBound(uInt size)
{
    return compressBound(size) + 16;
}

unsigned char* CompressForPng(const unsigned char* data, int length, int* outLength, int /*quality*/)
{
    const auto size = static_cast<uInt>(length);
    if (length < TwoThreadsFrom) {
        uLongf packed = compressBound(size);
        auto* out = static_cast<unsigned char*>(std::malloc(packed));
        if (out == nullptr)
            return nullptr;
        if (compress2(out, &packed, data, size, Z_BEST_SPEED) != Z_OK || packed > INT_MAX) {
            std::free(out);
            return nullptr;
        }
        *outLength = static_cast<int>(packed);
        return out;
    }
    // A zlib header (fastest level), the halves' raw streams and the
    // checksum of the whole. The second half is written after room for the
    // first, then moved to follow it.
    const uInt first = size / 2;
    const uInt second = size - first;
    const uLong firstRoom = RawBound(first);
    auto* out = static_cast<unsigned char*>(std::malloc(2 + firstRoom + RawBound(second) + 4));
    if (out == nullptr)
        return nullptr;
    // Each thread also sums the bytes it compresses; the sums are joined after.
    struct Half {
        std::int64_t Packed = -1;
        uLong Checksum = 0;
    } halves[2];
    auto compress = [&](int half) {
        const unsigned char* from = data + (half == 0 ? 0 : first);
        const uInt bytes = half == 0 ? first : second;
        unsigned char* to = out + 2 + (half == 0 ? 0 : firstRoom);
        halves[half].Packed = RawDeflate(from, bytes, to, RawBound(bytes), half == 1);
        halves[half].Checksum = adler32(adler32(0, nullptr, 0), from, bytes);
    };
    std::thread helper;
    try {
        helper = std::thread(compress, 1);
    } catch (const std::system_error&) {
        // No second thread to be had: both halves on this one.
    }
    compress(0);
    if (helper.joinable())
        helper.join();
    else
        compress(1);
    const std::int64_t total = 2 + halves[0].Packed + halves[1].Packed + 4;
    if (halves[0].Packed < 0 || halves[1].Packed < 0 || total > INT_MAX) {
        std::free(out);
        return nullptr;
    }
    out[0] = 0x78;
    out[1] = 0x01;
    std::memmove(out + 2 + halves[0].Packed, out + 2 + firstRoom, static_cast<std::size_t>(halves[1].Packed));
    const uLong checksum = adler32_combine(halves[0].Checksum, halves[1].Checksum, static_cast<z_off_t>(second));
    unsigned char* end = out + total - 4;
    for (int i = 0; i < 4; ++i)
        end[i] = static_cast<unsigned char>(checksum >> (24 - 8 * i));
    *outLength = static_cast<int>(total);
    return out;
}

unsigned ChecksumForPng(const unsigned char* data, int length)
{
    return static_cast<unsigned>(crc32(0, data, static_cast<uInt>(length)));
}

} // namespace

#define STBIW_ZLIB_COMPRESS CompressForPng
#define STBIW_CRC32 ChecksumForPng
#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace cryo {

namespace {

void Append(void* context, void* data, int size)
{
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<std::size_t>(size));
}

} // namespace

bool FitsInPng(int width, int height)
{
    return width > 0 && height > 0 && (std::int64_t{width} * 3 + 1) * height <= INT_MAX;
}

std::string EncodePng(const PictureView& picture)
{
    if (!FitsInPng(picture.Width, picture.Height) || picture.Stride > INT_MAX)
        throw RangeError();
    std::string png;
    if (stbi_write_png_to_func(
            &Append, &png, picture.Width, picture.Height, 3, picture.Pixels, static_cast<int>(picture.Stride))
        == 0)
        throw std::bad_alloc();
    return png;
}

} // namespace cryo
