#include "zip/ZACompactString.h"

#include <ostream>

namespace zip {

TZACompactString& TZACompactString::operator=(std::string_view text) {
    // Made apart first: text may be this string's own bytes.
    TZACompactString copy(text);
    return *this = std::move(copy);
}

void TZACompactString::Assign(std::string_view text) {
    if (text.size() <= InlineCapacity) {
        if (!text.empty()) // an empty view may have no bytes at all
            std::memcpy(bytes_, text.data(), text.size());
        SetInline(text.size());
        return;
    }
    char* pointer = new char[text.size() + 1];
    std::memcpy(pointer, text.data(), text.size());
    pointer[text.size()] = 0;
    const std::size_t size = text.size();
    std::memcpy(bytes_, &pointer, sizeof pointer);
    std::memcpy(bytes_ + SizeOffset, &size, sizeof size);
    bytes_[InlineCapacity] = HeapTag;
}

void TZACompactString::Release() noexcept {
    if (IsHeap())
        delete[] HeapPointer();
}

std::ostream& operator<<(std::ostream& out, const TZACompactString& text) {
    return out << text.View();
}

} // namespace zip
