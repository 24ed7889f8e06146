#include "WscText.h"

#include "Convert.h"
#include "Text.h"

namespace cryo {

namespace {

// The fuzzing build reads in tiny blocks, so that every line meets a block edge.
#ifdef CRYOWEAVER_WSC_CHUNK_SIZE
constexpr std::size_t ChunkSize = CRYOWEAVER_WSC_CHUNK_SIZE;
#else
constexpr std::size_t ChunkSize = std::size_t{1} << 20;
#endif
constexpr char CtrlZ = 26;

} // namespace

WscReader::WscReader(const std::string& path)
    : file_(File::OpenForReading(path))
    , buffer_(ChunkSize)
{
    Refill();
}

void WscReader::Refuse(const char* text) const
{
    Error error(text);
    error.SetFile(file_.path());
    throw error;
}

bool WscReader::Refill()
{
    if (exhausted_)
        return false;
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        bufferOffset_ += begin_;
        end_ -= begin_;
        begin_ = 0;
    }
    if (buffer_.size() - end_ < ChunkSize / 2)
        buffer_.resize(buffer_.size() * 2);

    const std::size_t got = file_.ReadSome(buffer_.data() + end_, buffer_.size() - end_);
    if (got == 0) {
        exhausted_ = true;
        return false;
    }
    if (bufferOffset_ == 0 && end_ == 0) {
        const auto* start = reinterpret_cast<const unsigned char*>(buffer_.data());
        if (got >= 2 && ((start[0] == 0xFF && start[1] == 0xFE) || (start[0] == 0xFE && start[1] == 0xFF)))
            Refuse("The world save is UTF-16 text: save it as ANSI or UTF-8 first");
        bom_ = got >= 3 && start[0] == 0xEF && start[1] == 0xBB && start[2] == 0xBF;
        begin_ = bom_ ? 3 : 0;
    }
    if (const void* z = std::memchr(buffer_.data() + end_, CtrlZ, got)) {
        const auto at = static_cast<std::size_t>(static_cast<const char*>(z) - buffer_.data());
        stoppedAtCtrlZ_ = true;
        ctrlZOffset_ = bufferOffset_ + at;
        exhausted_ = true;
        end_ = at;
    } else {
        end_ += got;
    }
    return true;
}

bool WscReader::NextLines(std::string_view& lines)
{
    for (;;) {
        const char* start = buffer_.data() + begin_;
        std::size_t cut = end_ - begin_;
        if (!exhausted_) {
            // Up to the last line end that is known whole: a CR at the very end
            // may still be followed by its LF.
            cut = 0;
            for (std::size_t i = end_ - begin_; i-- > 0;) {
                if (start[i] == '\r' && i + 1 < end_ - begin_) {
                    cut = i + 1 + (start[i + 1] == '\n' ? 1 : 0);
                    break;
                }
            }
            if (cut == 0) {
                Refill();
                continue;
            }
        }
        if (cut == 0)
            return false;
        // The first run holds a CR, or else it is the whole text.
        if (!lineEndsChecked_) {
            lineEndsChecked_ = true;
            if (std::memchr(start, '\r', cut) == nullptr && std::memchr(start, '\n', cut) != nullptr)
                Refuse("The world save's lines end in LF alone, not CR LF: convert it to CR LF line ends first");
        }
        lines = std::string_view(start, cut);
        begin_ += cut;
        return true;
    }
}

void WscReader::Rewind()
{
    file_.Seek(0);
    begin_ = end_ = 0;
    bufferOffset_ = 0;
    exhausted_ = false;
    stoppedAtCtrlZ_ = false;
    if (buffer_.size() > ChunkSize)
        buffer_.assign(ChunkSize, '\0');
    Refill();
}

std::string WscReader::ReadTail()
{
    std::string tail;
    if (!stoppedAtCtrlZ_)
        return tail;
    file_.Seek(static_cast<std::int64_t>(ctrlZOffset_));
    char chunk[65536];
    while (const std::size_t got = file_.ReadSome(chunk, sizeof chunk))
        tail.append(chunk, got);
    return tail;
}

WscWriter::WscWriter(ReplacementFile& out)
    : out_(out)
    , buffer_(ChunkSize)
{
}

void WscWriter::Spill()
{
    out_.Write(buffer_.data(), used_);
    used_ = 0;
}

void WscWriter::WriteLongLine(std::string_view line)
{
    Spill();
    if (line.size() + 2 <= buffer_.size())
        return WriteLine(line);
    out_.Write(line.data(), line.size());
    out_.Write("\r\n", 2);
}

void WscWriter::WriteRaw(std::string_view bytes)
{
    Spill();
    if (!bytes.empty())
        out_.Write(bytes.data(), bytes.size());
}

void WscWriter::Finish()
{
    if (used_ > 0)
        Spill();
}

std::int32_t TagValue(std::string_view line, std::size_t removed)
{
    const std::string_view text = Trim(line.substr(std::min(removed, line.size())));
    try {
        return StrToInt(text);
    } catch (const ConvertError&) {
        throw ConvertError(UpperCase(text));
    }
}

std::string SectionPlace(std::int64_t number)
{
    return "SECTION WORLDITEM " + std::to_string(number);
}

} // namespace cryo
