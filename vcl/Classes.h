// The component model: objects, the owner tree and string lists.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vcl {

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

// A component lives in its owner's tree: the owner keeps it, in creation order, and releases
// it (and so everything it owns) when the owner itself goes. Components are made through
// Create<T>(owner, ...), which hands the new component to its owner only once it is fully
// constructed.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner) : owner_(owner) {}
    ~TComponent() override;

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    virtual void SetName(std::string name) { name_ = std::move(name); }
    long Tag() const { return tag_; }
    void SetTag(long tag) { tag_ = tag; }

    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Components(int index) const {
        return components_.at(static_cast<std::size_t>(index)).get();
    }
    int ComponentIndex() const;
    TComponent* FindComponent(std::string_view name) const; // case-insensitive, own list only

    // The after-load notification: runs once the component and all its siblings exist and
    // have their designed properties.
    virtual void Loaded() {}

    // Releases a component this one owns; the pointer is invalid afterwards.
    void DestroyComponent(TComponent* component);
    void DestroyComponents();

    // Takes ownership of a fully constructed component made with this as its owner.
    TComponent* InsertComponent(std::unique_ptr<TComponent> component);

private:
    TComponent* owner_;
    std::string name_;
    long tag_ = 0;
    std::vector<std::unique_ptr<TComponent>> components_;
};

// Makes a component owned by `owner`, which releases it. The result is an observing pointer.
template <class T, class... Args> T* Create(TComponent* owner, Args&&... args) {
    if (!owner)
        throw std::invalid_argument("a component made by Create needs an owner");
    auto component = std::make_unique<T>(owner, std::forward<Args>(args)...);
    T* result = component.get();
    owner->InsertComponent(std::move(component));
    return result;
}

// Releases an owned component early and clears the caller's reference to it.
template <class T> void FreeAndNil(T*& component) {
    if (component) {
        TComponent* owner = component->Owner();
        T* doomed = component;
        component = nullptr;
        owner->DestroyComponent(doomed);
    }
}

// A list of texts. Concrete lists store their lines; controls present their contents through
// the same interface.
class TStrings : public TObject {
public:
    virtual int Count() const = 0;
    virtual std::string Get(int index) const = 0;
    virtual void Put(int index, std::string text);
    virtual void Insert(int index, std::string text) = 0;
    virtual void Delete(int index) = 0;
    virtual void Clear() = 0;

    int Add(std::string text);
    std::string operator[](int index) const { return Get(index); }
    int IndexOf(std::string_view text) const; // without regard to ASCII case
    void Assign(const TStrings& source);
    // Whole-list access; lists whose lines live elsewhere do each in one pass.
    virtual void Assign(const std::vector<std::string>& lines);
    virtual std::vector<std::string> Lines() const;

    // Every line followed by "\n".
    std::string Text() const;
    // Splits at CR, LF or CR LF; a final line break adds no empty line.
    void SetText(std::string_view text);

    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName) const;

protected:
    void CheckIndex(int index, int limit) const;
};

class TStringList : public TStrings {
public:
    TStringList() = default;
    explicit TStringList(std::vector<std::string> lines) : items_(std::move(lines)) {}

    int Count() const override { return static_cast<int>(items_.size()); }
    std::string Get(int index) const override;
    void Put(int index, std::string text) override;
    void Insert(int index, std::string text) override;
    void Delete(int index) override;
    void Clear() override { items_.clear(); }
    using TStrings::Assign;
    void Assign(const std::vector<std::string>& lines) override { items_ = lines; }
    std::vector<std::string> Lines() const override { return items_; }

private:
    std::vector<std::string> items_;
};

// Splits a text into lines at CR, LF or CR LF, as TStrings::SetText does.
std::vector<std::string> SplitLines(std::string_view text);

} // namespace vcl
