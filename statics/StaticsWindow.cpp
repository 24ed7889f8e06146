#include "StaticsWindow.h"

#include "Error.h"
#include "StaticBlock.h"

#include <algorithm>
#include <utility>

namespace cryo {

StaticsWindow::StaticsWindow(File& file, std::size_t capacity)
    : file_(file)
    , capacity_(std::max<std::size_t>(capacity / StaticItemSize, 1) * StaticItemSize)
{
}

const unsigned char* StaticsWindow::Read(std::uint64_t offset, std::size_t size)
{
    ++uses_;
    for (Slot& slot : slots_) {
        if (slot.Filled > 0 && offset >= slot.Start && offset + size <= slot.Start + slot.Filled) {
            slot.LastUse = uses_;
            return slot.Buffer.data() + (offset - slot.Start);
        }
    }
    // A range that begins within one read ahead of a buffer's end continues
    // its run; any other takes the buffer used least lately.
    auto continues = [&](const Slot& slot) {
        return slot.Filled > 0 && offset >= slot.Start && offset - slot.Start <= slot.Filled + slot.Ahead;
    };
    Slot* slot = continues(slots_[0]) ? &slots_[0] : continues(slots_[1]) ? &slots_[1] : nullptr;
    if (slot != nullptr) {
        slot->Ahead = std::min(slot->Ahead * 2, capacity_);
    } else {
        slot = slots_[0].LastUse <= slots_[1].LastUse ? &slots_[0] : &slots_[1];
        slot->Ahead = FirstAhead;
    }
    const std::size_t wanted = std::max(size, slot->Ahead);
    if (slot->Buffer.size() < wanted)
        slot->Buffer.resize(std::min(std::max(wanted, slot->Buffer.size() * 2), capacity_));
    file_.Seek(static_cast<std::int64_t>(offset));
    slot->Start = offset;
    slot->LastUse = uses_;
    slot->Filled = file_.ReadSome(slot->Buffer.data(), wanted);
    if (slot->Filled < size)
        throw file_.ReadBeyondEnd();
    return slot->Buffer.data();
}

StaticsBlockReader::StaticsBlockReader(std::string staticsPath)
    : path_(std::move(staticsPath))
{
}

void StaticsBlockReader::Read(const TStaIdxEntry& entry, TStaticBlock& block)
{
    block.Count = 0;
    if (entry.Offset == -1)
        return;
    try {
        if (!file_) {
            file_.emplace(File::OpenExisting(path_));
            window_.emplace(*file_);
        }
        if (entry.Offset < 0) {
            NullReporter quiet;
            ReadBlockRecords(*file_, entry, block, quiet);
            return;
        }
        const int n = EntryRecordCount(entry);
        const int wanted = std::min(n, MaxBlockItems);
        if (wanted > 0) {
            const unsigned char* bytes = window_->Read(
                static_cast<std::uint64_t>(entry.Offset), static_cast<std::size_t>(wanted) * StaticItemSize);
            for (int i = 0; i < wanted; ++i)
                block.Items[static_cast<std::size_t>(i)] = DecodeStaticItem(bytes + i * StaticItemSize);
        }
        if (n > MaxBlockItems)
            throw RangeError();
        block.Count = static_cast<std::uint16_t>(wanted);
    } catch (Error& error) {
        error.SetFile(path_);
        throw;
    }
}

} // namespace cryo
