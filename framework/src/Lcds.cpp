#include "framework/Lcds.h"

namespace Tavo::Client {

void AppModule::RegisterLcdsClassName(std::string_view typeName, std::string_view className) {
    lcdsClassNames_[std::string(typeName)] = std::string(className);
}

// The "__class" rule for one value: when the descriptor `info` names has an
// LCDS class name, a struct gets the member itself, a vector or map of
// structs gets it on every element, and then the rule is applied to each
// field (in the descriptor's order) that the structure carries.
void AppModule::AddLcdsClassNames(BindingProperty& value, const BindingTypeInfo& info) const {
    const BindingTypeDescriptor* descriptor = info.descriptor;
    if (descriptor == nullptr || descriptor->isEnum) {
        return;
    }
    const auto entry = lcdsClassNames_.find(descriptor->name);
    if (entry == lcdsClassNames_.end()) {
        return;
    }
    const std::string& className = entry->second;
    const auto mark = [&](BindingProperty& structure) {
        // Only a structure can carry a member; anything else stays as it is.
        if (structure.GetKind() != BindingProperty::Kind::Structure) {
            return;
        }
        structure.Field("__class").SetString(className);
        for (const BindingFieldDescriptor& field : descriptor->fields) {
            // A missing member (or an empty one, which could carry nothing)
            // is left alone: Field would insert it.
            if (!structure.Find(field.name).IsEmpty()) {
                AddLcdsClassNames(structure.Field(field.name), field.typeInfo);
            }
        }
    };
    switch (info.kind) {
        case BindingNativeKind::Struct:
            mark(value);
            break;
        case BindingNativeKind::Vector:
            for (BindingProperty& element : value.Elements()) {
                mark(element);
            }
            break;
        case BindingNativeKind::Map: {
            std::vector<std::string> keys;
            for (const auto& field : value.Fields()) {
                keys.emplace_back(field.key.View());
            }
            for (const std::string& key : keys) {
                mark(value.Field(key));
            }
            break;
        }
        default:
            break;
    }
}

}  // namespace Tavo::Client
