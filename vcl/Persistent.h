// The framework's persistent class: objects that can copy themselves from one another and
// that a form streams by their published properties.
#pragma once

#include "vcl/Classes.h"

#include <optional>
#include <string>
#include <vector>

namespace vcl {

// One published property as form streaming sees it: its value as text and the default the
// streamer compares against. A property equal to its default is not written; one without a
// default is always written.
struct TPublishedProperty {
    std::string Name;
    std::string Value;
    std::optional<std::string> Default;

    bool Stored() const { return !Default || *Default != Value; }
};

class TPersistent : public TObject {
public:
    // Copies source into this object. The default hands the work to source.AssignTo, whose
    // default fails with EConvertError: a class that knows its source overrides Assign.
    virtual void Assign(const TPersistent& source);
    virtual std::string ClassName() const { return "TPersistent"; }

    // The published properties in declaration order; none by default.
    virtual std::vector<TPublishedProperty> PublishedProperties() const { return {}; }
    // The properties a form would write: those that differ from their default.
    std::vector<TPublishedProperty> StoredProperties() const;

protected:
    virtual void AssignTo(TPersistent& target) const;
};

} // namespace vcl
