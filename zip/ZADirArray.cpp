#include "zip/ZADirArray.h"

#include "zip/ZAExcept.h"

#include <algorithm>

namespace zip {

void TDirItem::KeepNameField(std::string_view field) {
    TDirItemDetail& d = EditDetail();
    d.NameField = field;
    d.NameFieldText = StoredName;
}

void TDirItem::DropNameField() {
    if (detail_.Has()) {
        TDirItemDetail& d = detail_.Edit();
        d.NameField.clear();
        d.NameFieldText.clear();
    }
}

void TDirItem::SetComment(std::string_view comment) {
    if (!comment.empty() || detail_.Has())
        EditDetail().Comment = comment;
}

void TDirItem::SetExtraFields(std::vector<TZAExtraField> fields) {
    if (!fields.empty() || detail_.Has())
        EditDetail().ExtraFields = std::move(fields);
}

void TDirItem::TakeSourceStream(std::unique_ptr<vcl::TStream> stream) {
    TDirItemSource& s = EditSource();
    s.SourceStream = std::shared_ptr<vcl::TStream>(std::move(stream));
    s.OwnsStream = s.SourceStream != nullptr;
}

void TDirItem::LendSourceStream(vcl::TStream& stream) {
    TDirItemSource& s = EditSource();
    // A non-owning handle: releasing it leaves the caller's stream alone.
    s.SourceStream = std::shared_ptr<vcl::TStream>(&stream, [](vcl::TStream*) {});
    s.OwnsStream = false;
}

void TDirItem::ReleaseSourceStream() {
    if (source_.Has()) {
        source_.Edit().SourceStream.reset();
        source_.Edit().OwnsStream = false;
    }
}

void TDirItem::ResolveZip64() {
    const TZACentralHeader& h = CentralHeader;
    if (h.CompressedSize != Zip64Marker32)
        CompressedSize = h.CompressedSize;
    if (h.UncompressedSize != Zip64Marker32)
        UncompressedSize = h.UncompressedSize;
    if (h.LocalHeaderOffset != Zip64Marker32)
        LocalHeaderOffset = h.LocalHeaderOffset;
}

void TDirItem::SetZip64DiskNumberStart(std::uint32_t volume) {
    if (volume != 0 || detail_.Has())
        EditDetail().Zip64DiskNumberStart = volume;
}

std::int64_t TZADirArray::MaxEntriesIn(std::int64_t directoryBytes) {
    return directoryBytes <= 0 ? 0 : directoryBytes / MinEntryBytes;
}

void TZADirArray::SetCount(std::int32_t newCount) {
    if (newCount < 0)
        throw EZAException(zeDirectoryIndex);
    if (newCount > capacity_) {
        growthStep_ = std::min(growthStep_ * 2, maxGrowthStep_);
        std::int32_t newCapacity =
            capacity_ + growthStep_ > newCount ? capacity_ + growthStep_ : newCount;
        // Slots first, capacity after: a failed allocation leaves both as they were.
        items_.resize(static_cast<std::size_t>(newCapacity));
        capacity_ = newCapacity;
    } else if (newCount == 0) {
        std::vector<TDirItem>().swap(items_);
        capacity_ = 0;
    } else if (newCount < count_) {
        // Slots past the count hold no entry.
        std::fill(items_.begin() + newCount, items_.begin() + count_, TDirItem{});
    }
    count_ = newCount;
}

void TZADirArray::SetCount(std::int32_t newCount, std::int64_t directoryBytes) {
    if (newCount > MaxEntriesIn(directoryBytes))
        throw EZAException(zeDirectoryIndex);
    SetCount(newCount);
}

void TZADirArray::CheckIndex(std::int32_t index, TZAError code) const {
    if (index < 0 || index >= count_)
        throw EZAException(code);
}

TDirItem TZADirArray::GetItem(std::int32_t index) const {
    CheckIndex(index, zeGetItemIndex);
    return items_[static_cast<std::size_t>(index)];
}

void TZADirArray::SetItem(std::int32_t index, const TDirItem& item) {
    CheckIndex(index, zeDirectoryIndex);
    items_[static_cast<std::size_t>(index)] = item;
}

TDirItem& TZADirArray::ItemPtr(std::int32_t index) {
    CheckIndex(index, zeItemPtrIndex);
    return items_[static_cast<std::size_t>(index)];
}

const TDirItem& TZADirArray::ItemPtr(std::int32_t index) const {
    CheckIndex(index, zeItemPtrIndex);
    return items_[static_cast<std::size_t>(index)];
}

void TZADirArray::Delete(std::int32_t index) {
    CheckIndex(index, zeDeleteIndex);
    auto at = items_.begin() + index;
    auto end = items_.begin() + count_;
    std::move(at + 1, end, at);
    *(end - 1) = TDirItem{};
    SetCount(count_ - 1);
}

void TZADirArray::Clear() {
    std::fill(items_.begin(), items_.begin() + count_, TDirItem{});
    count_ = 0;
}

void TZADirArray::Assign(const TZADirArray& source) {
    if (&source == this)
        return;
    Clear();
    SetCount(source.Count());
    for (std::int32_t i = 0; i < source.Count(); ++i)
        SetItem(i, source.GetItem(i));
}

void TZADirArray::ClearSelection() {
    for (std::int32_t i = 0; i < count_; ++i)
        items_[static_cast<std::size_t>(i)].Selected = false;
}

} // namespace zip
