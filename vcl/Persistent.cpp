#include "vcl/Persistent.h"

#include "vcl/SysUtils.h"

namespace vcl {

void TPersistent::Assign(const TPersistent& source) {
    source.AssignTo(*this);
}

void TPersistent::AssignTo(TPersistent& target) const {
    throw EConvertError(
        Format("Impossible d'affecter un %s à un %s", {ClassName(), target.ClassName()}));
}

std::vector<TPublishedProperty> TPersistent::StoredProperties() const {
    std::vector<TPublishedProperty> stored;
    for (TPublishedProperty& property : PublishedProperties())
        if (property.Stored())
            stored.push_back(std::move(property));
    return stored;
}

} // namespace vcl
