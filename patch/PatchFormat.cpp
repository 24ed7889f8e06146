#include "PatchFormat.h"

#include "Bytes.h"
#include "Error.h"
#include "StaticBlock.h"
#include "Text.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <algorithm>
#include <cstring>

namespace cryo {

namespace {

constexpr unsigned char Signature[8] = {'C', 'W', 'P', 'A', 'T', 'C', 'H', 0x1A};
constexpr std::size_t WriteBuffer = std::size_t{1} << 20;
constexpr std::uint64_t SyncStep = std::uint64_t{8} << 20;
constexpr std::size_t ReadBuffer = std::size_t{1} << 20;
constexpr std::size_t NewCountAt = 22; // in a block's header
constexpr std::size_t LargestBlock = PatchBlockHeaderSize + std::size_t{MaxBlockItems} * StaticItemSize;

void PutU64(unsigned char* out, std::uint64_t value)
{
    le::PutU32(out, static_cast<std::uint32_t>(value));
    le::PutU32(out + 4, static_cast<std::uint32_t>(value >> 32));
}

std::uint64_t GetU64(const unsigned char* in)
{
    return le::GetU32(in) | (std::uint64_t{le::GetU32(in + 4)} << 32);
}

Error PatchError(const std::string& text, const std::string& path)
{
    Error error(text);
    error.SetFile(path);
    return error;
}

Error DamagedOrCutShort(const std::string& path)
{
    return PatchError("The patch file is damaged or cut short. Get it again", path);
}

Error NotAPatch(const std::string& path)
{
    return PatchError("This is not a Cryoweaver patch file", path);
}

} // namespace

PatchMap PatchMapOf(int map, const StaIdx& table)
{
    return {map, table.Size(), static_cast<std::uint32_t>(table.Trailing.size() / StaIdxRecordSize)};
}

std::string PatchMapText(const PatchMap& map, const PatchMap& other)
{
    std::string text = "map " + std::to_string(map.Map) + " of " + std::to_string(map.Size.Width) + " x "
        + std::to_string(map.Size.Height) + " blocks";
    if (map.ExtraEntries > 0)
        text += " and " + CountText(map.ExtraEntries, "index entry", "index entries") + " past its table";
    else if (other.ExtraEntries > 0)
        text += " and no index entries past its table";
    return text;
}

std::string PatchBlockName(const PatchMap& map, std::size_t entry)
{
    const std::size_t height = static_cast<std::size_t>(map.Size.Height);
    if (entry / height >= static_cast<std::size_t>(map.Size.Width))
        return "index entry " + std::to_string(entry);
    return "block " + std::to_string(entry / height) + "," + std::to_string(entry % height);
}

TStaIdxEntry IndexEntry(const StaIdx& table, std::size_t n)
{
    if (n < table.Entries.size())
        return table.Entries[n];
    return DecodeStaIdxEntry(&table.Trailing[(n - table.Entries.size()) * StaIdxRecordSize]);
}

void SetIndexEntry(StaIdx& table, std::size_t n, const TStaIdxEntry& entry)
{
    if (n < table.Entries.size())
        table.Entries[n] = entry;
    else
        EncodeStaIdxEntry(entry, &table.Trailing[(n - table.Entries.size()) * StaIdxRecordSize]);
}

std::span<const unsigned char> BlockRecords(File& statics, StaticsWindow& window, const TStaIdxEntry& entry)
{
    const int count = EntryItemCount(entry);
    if (count == 0)
        return {};
    if (entry.Offset < 0)
        throw statics.ReadBeyondEnd();
    const std::size_t size = static_cast<std::size_t>(count) * StaticItemSize;
    return {window.Read(static_cast<std::uint64_t>(entry.Offset), size), size};
}

BlockDigest DigestOfRecords(std::span<const unsigned char> records)
{
    const XXH128_hash_t hash = XXH3_128bits(records.data(), records.size());
    BlockDigest digest;
    PutU64(digest.data(), hash.low64);
    PutU64(digest.data() + 8, hash.high64);
    return digest;
}

struct PatchChecksum::State {
    XXH3_state_t Xxh;
};

PatchChecksum::PatchChecksum()
    : state_(std::make_unique<State>())
{
    Reset();
}

PatchChecksum::~PatchChecksum() = default;

void PatchChecksum::Reset()
{
    XXH3_64bits_reset(&state_->Xxh);
}

void PatchChecksum::Update(const unsigned char* data, std::size_t size)
{
    XXH3_64bits_update(&state_->Xxh, data, size);
}

std::uint64_t PatchChecksum::Value() const
{
    return XXH3_64bits_digest(&state_->Xxh);
}

PatchWriter::PatchWriter(ReplacementFile& out, const PatchMap& map)
    : out_(out)
    , map_(map)
{
    buffer_.reserve(WriteBuffer);
    unsigned char header[PatchHeaderSize];
    std::memcpy(header, Signature, sizeof Signature);
    le::PutU16(header + 8, PatchFormatVersion);
    le::PutU16(header + 10, static_cast<std::uint16_t>(map.Map));
    le::PutU16(header + 12, static_cast<std::uint16_t>(map.Size.Width));
    le::PutU16(header + 14, static_cast<std::uint16_t>(map.Size.Height));
    le::PutU32(header + 16, map.ExtraEntries);
    Put(header, sizeof header);
}

void AppendPatchBlock(std::vector<unsigned char>& out, const PatchMap& map, std::size_t n,
    std::span<const unsigned char> oldRecords, std::span<const unsigned char> newRecords)
{
    const std::size_t height = static_cast<std::size_t>(map.Size.Height);
    unsigned char head[PatchBlockHeaderSize];
    le::PutU16(head, static_cast<std::uint16_t>(n / height));
    le::PutU16(head + 2, static_cast<std::uint16_t>(n % height));
    le::PutU16(head + 4, static_cast<std::uint16_t>(oldRecords.size() / StaticItemSize));
    const BlockDigest digest = DigestOfRecords(oldRecords);
    std::memcpy(head + 6, digest.data(), digest.size());
    le::PutU16(head + NewCountAt, static_cast<std::uint16_t>(newRecords.size() / StaticItemSize));
    out.insert(out.end(), head, head + sizeof head);
    out.insert(out.end(), newRecords.begin(), newRecords.end());
}

void PatchWriter::Add(std::span<const unsigned char> records, std::uint32_t blocks)
{
    blocks_ += blocks;
    if (buffer_.size() + records.size() <= WriteBuffer) {
        Put(records.data(), records.size());
        return;
    }
    Drain();
    checksum_.Update(records.data(), records.size());
    Emit(records.data(), records.size());
}

void PatchWriter::Finish()
{
    unsigned char count[4];
    le::PutU32(count, blocks_);
    Put(count, sizeof count);
    unsigned char checksum[8];
    PutU64(checksum, checksum_.Value());
    buffer_.insert(buffer_.end(), checksum, checksum + sizeof checksum);
    Drain();
}

void PatchWriter::Put(const unsigned char* data, std::size_t size)
{
    checksum_.Update(data, size);
    buffer_.insert(buffer_.end(), data, data + size);
}

void PatchWriter::Drain()
{
    Emit(buffer_.data(), buffer_.size());
    buffer_.clear();
}

void PatchWriter::Emit(const unsigned char* data, std::size_t size)
{
    out_.Write(data, size);
    written_ += size;
    // The disk takes the patch while the rest is compared, rather than all of it at the end.
    if (written_ - started_ >= SyncStep) {
        out_.StartSync(started_, written_ - started_);
        started_ = written_;
    }
}

PatchReader::PatchReader(const std::string& path)
    : file_(File::OpenForReading(path))
    , identity_(file_.Identity())
    , size_(identity_.Size)
    , buffer_(ReadBuffer + LargestBlock)
{
    // The signature first: a file that is no patch at all is named as such.
    unsigned char head[PatchHeaderSize];
    const std::size_t got = file_.ReadSome(head, sizeof head);
    const std::size_t compared = std::min(got, sizeof Signature);
    if (std::memcmp(head, Signature, compared) != 0 || got == 0)
        throw NotAPatch(path);
    if (got >= 10 && le::GetU16(head + 8) != PatchFormatVersion)
        throw PatchError("The patch file has format version " + std::to_string(le::GetU16(head + 8))
                + ", which this Cryoweaver cannot read; use a newer Cryoweaver",
            path);
    if (size_ < PatchHeaderSize + PatchFooterSize)
        throw DamagedOrCutShort(path);
    file_.Seek(static_cast<std::int64_t>(size_ - PatchFooterSize));
    if (file_.ReadSome(footer_.data(), footer_.size()) != footer_.size())
        throw file_.ReadBeyondEnd();

    map_.Map = le::GetU16(head + 10);
    map_.Size = {le::GetU16(head + 12), le::GetU16(head + 14)};
    map_.ExtraEntries = le::GetU32(head + 16);
    blockCount_ = le::GetU32(footer_.data());
    if (map_.Map >= MapCount || map_.Size.Width == 0 || map_.Size.Height == 0
        || blockCount_ > (size_ - PatchHeaderSize - PatchFooterSize) / PatchBlockHeaderSize)
        Refuse(Damaged());
    Rewind();
}

Error PatchReader::Damaged() const
{
    return PatchError("The patch file is damaged: its blocks do not fit its header. Get it again", file_.path());
}

void PatchReader::ThrowIfDamaged()
{
    if (verified_)
        return;
    // The rest of what the checksum covers, past what the pass has read.
    std::vector<unsigned char> rest(ReadBuffer);
    file_.Seek(static_cast<std::int64_t>(summed_));
    while (summed_ < size_ - 8) {
        const std::size_t n = file_.ReadSome(rest.data(), rest.size());
        if (n == 0)
            throw file_.ReadBeyondEnd();
        const std::size_t used = static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ - 8 - summed_));
        checksum_.Update(rest.data(), used);
        summed_ += used;
    }
    file_.Seek(static_cast<std::int64_t>(fileRead_));
    if (checksum_.Value() != GetU64(footer_.data() + 4))
        throw DamagedOrCutShort(file_.path());
    verified_ = true;
}

void PatchReader::Refuse(const Error& error)
{
    ThrowIfDamaged();
    throw error;
}

void PatchReader::Rewind()
{
    file_.Seek(0);
    begin_ = end_ = 0;
    position_ = 0;
    fileRead_ = 0;
    blocksRead_ = 0;
    nextEntry_ = 0;
    if (!verified_) {
        checksum_.Reset();
        summed_ = 0;
    }
    Take(PatchHeaderSize);
    begin_ += PatchHeaderSize;
    position_ += PatchHeaderSize;
}

const unsigned char* PatchReader::Take(std::size_t size)
{
    if (position_ + size > size_ - PatchFooterSize)
        Refuse(Damaged());
    if (end_ - begin_ < size) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
        while (end_ < size) {
            const std::size_t n = file_.ReadSome(buffer_.data() + end_, buffer_.size() - end_);
            if (n == 0)
                throw file_.ReadBeyondEnd();
            // The first pass sums the bytes as they come, so the file is read once for both.
            const std::uint64_t summable = std::min<std::uint64_t>(fileRead_ + n, size_ - 8);
            if (!verified_ && summable > summed_) {
                checksum_.Update(buffer_.data() + end_ + (summed_ - fileRead_), summable - summed_);
                summed_ = summable;
            }
            fileRead_ += n;
            end_ += n;
        }
    }
    return buffer_.data() + begin_;
}

bool PatchReader::NextBatch(std::vector<PatchBlock>& blocks, std::vector<unsigned char>& bytes)
{
    PatchBlock block;
    if (!Next(block))
        return false;
    blocks.push_back(block);
    // The blocks after it that the buffer holds whole are read without a read
    // of the file or a move of the buffer.
    while (position_ != size_ - PatchFooterSize && end_ - begin_ >= PatchBlockHeaderSize
        && end_ - begin_
            >= PatchBlockHeaderSize + std::size_t{le::GetU16(&buffer_[begin_ + NewCountAt])} * StaticItemSize) {
        Next(block);
        blocks.push_back(block);
    }
    // What is left of the next block starts the reader's new buffer.
    if (bytes.size() != buffer_.size())
        bytes.resize(buffer_.size());
    std::memcpy(bytes.data(), buffer_.data() + begin_, end_ - begin_);
    std::swap(bytes, buffer_);
    end_ -= begin_;
    begin_ = 0;
    return true;
}

bool PatchReader::Next(PatchBlock& block)
{
    if (position_ == size_ - PatchFooterSize) {
        ThrowIfDamaged();
        if (blocksRead_ != blockCount_)
            throw Damaged();
        // The file is read again in every pass: it must be the one checked.
        const FileIdentity now = file_.Identity();
        if (!now.SameFile(identity_) || now.Modified != identity_.Modified)
            throw ChangedMeanwhile(file_.path());
        return false;
    }
    const unsigned char* head = Take(PatchBlockHeaderSize);
    block.X = le::GetU16(head);
    block.Y = le::GetU16(head + 2);
    block.OldCount = le::GetU16(head + 4);
    std::memcpy(block.OldDigest.data(), head + 6, block.OldDigest.size());
    block.NewCount = le::GetU16(head + NewCountAt);
    block.Entry = static_cast<std::size_t>(block.X) * static_cast<std::size_t>(map_.Size.Height) + block.Y;
    if (block.Y >= map_.Size.Height || block.Entry < nextEntry_ || block.Entry >= map_.Entries()
        || block.OldCount > MaxBlockItems || block.NewCount > MaxBlockItems)
        Refuse(Damaged());
    begin_ += PatchBlockHeaderSize;
    position_ += PatchBlockHeaderSize;
    const std::size_t size = std::size_t{block.NewCount} * StaticItemSize;
    block.NewRecords = {Take(size), size};
    begin_ += size;
    position_ += size;
    nextEntry_ = block.Entry + 1;
    ++blocksRead_;
    return true;
}

bool IsPatchFile(const std::string& path) noexcept
{
    try {
        File file = File::OpenForReading(path);
        unsigned char head[sizeof Signature];
        return file.ReadSome(head, sizeof head) == sizeof head && std::memcmp(head, Signature, sizeof head) == 0;
    } catch (...) {
        return false;
    }
}

} // namespace cryo
