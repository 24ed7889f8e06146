#include "StaticsWindow.h"

#include "StaticBlock.h"

#include <algorithm>

namespace cryo {

StaticsWindow::StaticsWindow(File& file, std::size_t capacity)
    : file_(file)
    , capacity_(std::max<std::size_t>(capacity / StaticItemSize, 1) * StaticItemSize)
{
}

const unsigned char* StaticsWindow::Read(std::uint64_t offset, std::size_t size)
{
    if (offset >= start_ && offset + size <= start_ + filled_)
        return buffer_.data() + (offset - start_);
    // A range that begins within one read ahead of the last is reading in order.
    const bool inOrder = offset >= start_ && offset - start_ <= filled_ + ahead_;
    ahead_ = inOrder ? std::min(ahead_ * 2, capacity_) : FirstAhead;
    const std::size_t wanted = std::max(size, ahead_);
    if (buffer_.size() < wanted)
        buffer_.resize(std::min(std::max(wanted, buffer_.size() * 2), capacity_));
    file_.Seek(static_cast<std::int64_t>(offset));
    start_ = offset;
    filled_ = file_.ReadSome(buffer_.data(), wanted);
    if (filled_ < size)
        throw file_.ReadBeyondEnd();
    return buffer_.data();
}

} // namespace cryo
