// A string set whole and never grown, in 24 bytes, for the name every directory entry holds:
// up to 23 bytes stand inside it, a longer one in an allocation of exactly its size. A listing
// keeps one per entry, so std::string's 32 bytes and a heap block for any name past 15 bytes
// would be most of what an entry costs.
#pragma once

#include <cstddef>
#include <cstring>
#include <iosfwd>
#include <string>
#include <string_view>

namespace zip {

class TZACompactString {
public:
    static constexpr std::size_t InlineCapacity = 23;

    TZACompactString() noexcept { SetInline(0); }
    explicit TZACompactString(std::string_view text) { Assign(text); }
    TZACompactString(const TZACompactString& other) : TZACompactString(other.View()) {}
    TZACompactString(TZACompactString&& other) noexcept {
        std::memcpy(bytes_, other.bytes_, sizeof bytes_);
        other.SetInline(0);
    }
    ~TZACompactString() { Release(); }

    TZACompactString& operator=(const TZACompactString& other) {
        if (this != &other)
            *this = other.View();
        return *this;
    }
    TZACompactString& operator=(TZACompactString&& other) noexcept {
        if (this != &other) {
            Release();
            std::memcpy(bytes_, other.bytes_, sizeof bytes_);
            other.SetInline(0);
        }
        return *this;
    }
    TZACompactString& operator=(std::string_view text);
    TZACompactString& operator=(const std::string& text) { return *this = std::string_view(text); }
    TZACompactString& operator=(const char* text) { return *this = std::string_view(text); }

    std::string_view View() const noexcept { return {data(), size()}; }
    operator std::string_view() const noexcept { return View(); }
    std::string str() const { return std::string(View()); }

    // The bytes, followed by a NUL.
    const char* data() const noexcept { return IsHeap() ? HeapPointer() : Chars(); }
    const char* c_str() const noexcept { return data(); }
    std::size_t size() const noexcept {
        if (!IsHeap())
            return InlineCapacity - bytes_[InlineCapacity];
        std::size_t size;
        std::memcpy(&size, bytes_ + SizeOffset, sizeof size);
        return size;
    }
    bool empty() const noexcept { return size() == 0; }
    const char* begin() const noexcept { return data(); }
    const char* end() const noexcept { return data() + size(); }
    char operator[](std::size_t i) const noexcept { return data()[i]; }
    char back() const noexcept { return data()[size() - 1]; }

    void clear() noexcept {
        Release();
        SetInline(0);
    }

    friend bool operator==(const TZACompactString& a, const TZACompactString& b) noexcept {
        return a.View() == b.View();
    }
    friend bool operator==(const TZACompactString& a, std::string_view b) noexcept {
        return a.View() == b;
    }

private:
    // The last byte tells the form: HeapTag, or the room left inline (23 - size), which makes
    // it the terminating NUL of a name that fills the room.
    static constexpr unsigned char HeapTag = 0xFF;
    // Heap form: the pointer in the first 8 bytes, the size in the next 8.
    static constexpr std::size_t SizeOffset = sizeof(char*);

    bool IsHeap() const noexcept { return bytes_[InlineCapacity] == HeapTag; }
    const char* Chars() const noexcept { return reinterpret_cast<const char*>(bytes_); }
    char* HeapPointer() const noexcept {
        char* pointer;
        std::memcpy(&pointer, bytes_, sizeof pointer);
        return pointer;
    }
    void SetInline(std::size_t size) noexcept {
        bytes_[size] = 0;
        bytes_[InlineCapacity] = static_cast<unsigned char>(InlineCapacity - size);
    }
    void Assign(std::string_view text);
    void Release() noexcept;

    alignas(8) unsigned char bytes_[InlineCapacity + 1];
};

std::ostream& operator<<(std::ostream& out, const TZACompactString& text);

} // namespace zip
