#include "vcl/Classes.h"

#include "vcl/Streams.h"
#include "vcl/SysUtils.h"

#include <algorithm>

namespace vcl {

TComponent::~TComponent() {
    DestroyComponents();
}

void TComponent::DestroyComponents() {
    // Last made, first released, and each one out of the list before it goes, so a component
    // that looks at its siblings while it is released never sees a dangling one.
    while (!components_.empty()) {
        std::unique_ptr<TComponent> last = std::move(components_.back());
        components_.pop_back();
        last.reset();
    }
}

int TComponent::ComponentIndex() const {
    if (!owner_)
        return -1;
    for (int i = 0; i < owner_->ComponentCount(); ++i)
        if (owner_->Components(i) == this)
            return i;
    return -1;
}

TComponent* TComponent::FindComponent(std::string_view name) const {
    for (const auto& c : components_)
        if (!name.empty() && SameText(c->Name(), name))
            return c.get();
    return nullptr;
}

TComponent* TComponent::InsertComponent(std::unique_ptr<TComponent> component) {
    components_.push_back(std::move(component));
    return components_.back().get();
}

void TComponent::DestroyComponent(TComponent* component) {
    auto it = std::find_if(components_.begin(), components_.end(),
                           [component](const auto& c) { return c.get() == component; });
    if (it == components_.end())
        return;
    std::unique_ptr<TComponent> doomed = std::move(*it);
    components_.erase(it);
}

void TStrings::CheckIndex(int index, int limit) const {
    if (index < 0 || index >= limit)
        throw EListError(Format("Indice de liste hors limites (%d)", {std::int64_t{index}}));
}

void TStrings::Put(int index, std::string text) {
    CheckIndex(index, Count());
    Delete(index);
    Insert(index, std::move(text));
}

int TStrings::Add(std::string text) {
    int index = Count();
    Insert(index, std::move(text));
    return index;
}

int TStrings::IndexOf(std::string_view text) const {
    for (int i = 0; i < Count(); ++i)
        if (SameText(Get(i), text))
            return i;
    return -1;
}

void TStrings::Assign(const TStrings& source) {
    if (&source == this)
        return;
    Assign(source.Lines());
}

void TStrings::Assign(const std::vector<std::string>& lines) {
    Clear();
    for (const auto& line : lines)
        Add(line);
}

std::vector<std::string> TStrings::Lines() const {
    std::vector<std::string> out;
    out.reserve(static_cast<std::size_t>(Count()));
    for (int i = 0; i < Count(); ++i)
        out.push_back(Get(i));
    return out;
}

std::string TStrings::Text() const {
    std::string out;
    for (int i = 0; i < Count(); ++i) {
        out += Get(i);
        out += '\n';
    }
    return out;
}

void TStrings::SetText(std::string_view text) {
    Assign(SplitLines(text));
}

void TStrings::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    std::string bytes(static_cast<std::size_t>(file.Size()), '\0');
    file.ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    SetText(bytes);
}

void TStrings::SaveToFile(const std::string& fileName) const {
    TFileStream file(fileName, fmCreate);
    std::string bytes = Text();
    file.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

std::string TStringList::Get(int index) const {
    CheckIndex(index, Count());
    return items_[static_cast<std::size_t>(index)];
}

void TStringList::Put(int index, std::string text) {
    CheckIndex(index, Count());
    items_[static_cast<std::size_t>(index)] = std::move(text);
}

void TStringList::Insert(int index, std::string text) {
    CheckIndex(index, Count() + 1);
    items_.insert(items_.begin() + index, std::move(text));
}

void TStringList::Delete(int index) {
    CheckIndex(index, Count());
    items_.erase(items_.begin() + index);
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    return lines;
}

} // namespace vcl
