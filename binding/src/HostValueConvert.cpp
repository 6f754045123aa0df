#include "binding/HostValueConvert.h"

#include <cstring>
#include <exception>
#include <limits>
#include <span>
#include <vector>

#include "binding/BindingRegistry.h"
#include "logging/Format.h"
#include "platform/MemoryAccounting.h"

namespace Tavo {

namespace {

constexpr const char* kIncompatibleType =
    "Couldn't assign value to '%1' of type object because the input is of an incompatible "
    "type '%2'.";
constexpr const char* kNullPointer =
    "Couldn't assign value to '%1' of type %2 because the input's pointer is null.";
constexpr const char* kMissingKey =
    "Couldn't assign value to '%1' of type structure because entry %2 of the input has no key.";
constexpr const char* kTooMany =
    "Couldn't assign value to '%1' of type collection because the input's %2 elements are more "
    "than it can hold.";
constexpr const char* kTooDeep =
    "Couldn't assign value to '%1' because the input is nested more than %2 levels deep.";
constexpr const char* kException = "Couldn't assign value to '%1': %2";

// The most elements a collection can reserve.
constexpr std::uint32_t kMaxCollection = 0x0FFFFFFFu;

HostValueType TypeOf(const HostValue& value) {
    return static_cast<HostValueType>(value.type);
}

void Zero(HostValue& value) {
    std::memset(static_cast<void*>(&value), 0, sizeof(HostValue));
}

void SetReference(HostValue& value, HostValueType type, const void* pointer, std::uint32_t count) {
    value.type = static_cast<std::uint32_t>(type);
    value.payload.u64 = 0;
    value.payload.ref.pointer = pointer;
    value.payload.ref.count = count;
}

template <class T>
T* AllocateZeroed(std::size_t count) {
    if (count == 0 || count > std::numeric_limits<std::size_t>::max() / sizeof(T)) {
        return nullptr;
    }
    void* block = Memory::Allocate(count * sizeof(T));
    if (block != nullptr) {
        std::memset(block, 0, count * sizeof(T));
    }
    return static_cast<T*>(block);
}

bool Convert(BindingProperty& out, const HostValue& in, std::string_view name, std::string& error,
             std::size_t depth) {
    if (depth > kMaxHostValueDepth) {
        error = Format(kTooDeep, name, static_cast<std::uint32_t>(kMaxHostValueDepth));
        return false;
    }
    const HostValueType type = TypeOf(in);
    switch (type) {
        case HostValueType::Null:
            out.Clear();
            return true;
        case HostValueType::Bool:
            out.SetBool(in.payload.boolean != 0);
            return true;
        case HostValueType::Signed:
            out.SetSigned(static_cast<std::int64_t>(in.payload.i64));
            return true;
        case HostValueType::Unsigned:
            out.SetUnsigned(static_cast<std::uint64_t>(in.payload.u64));
            return true;
        case HostValueType::Float:
            out.SetFloat(static_cast<double>(in.payload.f64));
            return true;
        case HostValueType::StringBorrowed:
        case HostValueType::StringOwned: {
            const auto* text = static_cast<const char*>(in.payload.ref.pointer);
            if (text == nullptr) {
                error = Format(kNullPointer, name, "string");
                return false;
            }
            out.SetString(text);
            return true;
        }
        case HostValueType::BlobBorrowed:
        case HostValueType::BlobOwned: {
            const auto* bytes = static_cast<const std::uint8_t*>(in.payload.ref.pointer);
            const std::uint32_t count = in.payload.ref.count;
            if (bytes == nullptr && count != 0) {
                error = Format(kNullPointer, name, "blob");
                return false;
            }
            out.SetBlob(std::span<const std::uint8_t>(bytes, bytes == nullptr ? 0 : count));
            return true;
        }
        case HostValueType::Array: {
            const auto* elements = static_cast<const HostValue*>(in.payload.ref.pointer);
            const std::uint32_t count = in.payload.ref.count;
            if (elements == nullptr && count != 0) {
                error = Format(kNullPointer, name, "collection");
                return false;
            }
            if (count > kMaxCollection) {
                error = Format(kTooMany, name, count);
                return false;
            }
            out.MakeCollection();
            out.Reserve(count);
            for (std::uint32_t i = 0; i < count; ++i) {
                if (!Convert(out.Element(i), elements[i], name, error, depth + 1)) {
                    return false;
                }
            }
            return true;
        }
        case HostValueType::Map: {
            const auto* entries = static_cast<const HostMapEntry*>(in.payload.ref.pointer);
            const std::uint32_t count = in.payload.ref.count;
            if (entries == nullptr && count != 0) {
                error = Format(kNullPointer, name, "structure");
                return false;
            }
            out.MakeStructure();
            for (std::uint32_t i = 0; i < count; ++i) {
                const char* key = entries[i].key;
                if (key == nullptr) {
                    error = Format(kMissingKey, name, i);
                    return false;
                }
                if (!Convert(out.Field(key), entries[i].value, name, error, depth + 1)) {
                    return false;
                }
            }
            return true;
        }
    }
    error = Format(kIncompatibleType, name, HostValueTypeName(in.type));
    return false;
}

bool Build(HostValue& out, const BindingProperty& in, const BindingRegistry* registry,
           std::size_t depth) {
    Zero(out);
    if (depth > kMaxHostValueDepth) {
        return false;
    }
    switch (in.GetKind()) {
        case BindingProperty::Kind::Empty:
            return true;
        case BindingProperty::Kind::Bool:
            SetBool(out, in.GetBool());
            return true;
        case BindingProperty::Kind::Signed:
            SetSigned(out, in.GetSigned());
            return true;
        case BindingProperty::Kind::Unsigned:
            SetUnsigned(out, in.GetUnsigned());
            return true;
        case BindingProperty::Kind::Float:
            SetFloat(out, in.GetFloat());
            return true;
        case BindingProperty::Kind::String:
            return SetString(out, in.GetString());
        case BindingProperty::Kind::Blob: {
            const auto bytes = in.GetBlob();
            return SetBlob(out, bytes.data(), bytes.size());
        }
        case BindingProperty::Kind::Enum: {
            const BindingEnumPayload payload = in.GetEnum();
            const char* name = (registry == nullptr || payload.type == nullptr)
                                   ? nullptr
                                   : registry->EnumValueName(*payload.type, payload.value);
            if (name != nullptr) {
                return SetString(out, name);
            }
            SetSigned(out, payload.value);
            return true;
        }
        case BindingProperty::Kind::Collection: {
            const auto elements = in.Elements();
            if (elements.size() > std::numeric_limits<std::uint32_t>::max()) {
                return false;
            }
            HostValue* array = AllocateHostArray(elements.size());
            if (array == nullptr && !elements.empty()) {
                return false;
            }
            SetReference(out, HostValueType::Array, array,
                         static_cast<std::uint32_t>(elements.size()));
            for (std::size_t i = 0; i < elements.size(); ++i) {
                if (!Build(array[i], elements[i], registry, depth + 1)) {
                    return false;
                }
            }
            return true;
        }
        case BindingProperty::Kind::Structure: {
            const std::size_t count = in.Size();
            if (count > std::numeric_limits<std::uint32_t>::max()) {
                return false;
            }
            HostMapEntry* entries = AllocateHostMap(count);
            if (entries == nullptr && count != 0) {
                return false;
            }
            SetReference(out, HostValueType::Map, entries, static_cast<std::uint32_t>(count));
            std::size_t i = 0;
            for (const auto& field : in.Fields()) {
                HostMapEntry& entry = entries[i++];
                if (!SetKey(entry, field.key.View()) ||
                    !Build(entry.value, field.value, registry, depth + 1)) {
                    return false;
                }
            }
            return true;
        }
    }
    return true;
}

}  // namespace

const char* HostValueTypeName(std::uint32_t type) {
    static constexpr const char* kNames[] = {
        "",       "bool", "signed", "unsigned",   "float",     "string",
        "string", "blob", "blob",   "collection", "structure",
    };
    return type < std::size(kNames) ? kNames[type] : "";
}

void SetNull(HostValue& value) {
    ResetHostValue(value);
}

void SetBool(HostValue& value, bool flag) {
    ResetHostValue(value);
    value.type = static_cast<std::uint32_t>(HostValueType::Bool);
    value.payload.boolean = flag ? 1 : 0;
}

void SetSigned(HostValue& value, std::int64_t number) {
    ResetHostValue(value);
    value.type = static_cast<std::uint32_t>(HostValueType::Signed);
    value.payload.i64 = number;
}

void SetUnsigned(HostValue& value, std::uint64_t number) {
    ResetHostValue(value);
    value.type = static_cast<std::uint32_t>(HostValueType::Unsigned);
    value.payload.u64 = number;
}

void SetFloat(HostValue& value, double number) {
    ResetHostValue(value);
    value.type = static_cast<std::uint32_t>(HostValueType::Float);
    value.payload.f64 = number;
}

bool SetString(HostValue& value, const char* text) {
    return SetString(value, std::string_view(text == nullptr ? "" : text));
}

bool SetString(HostValue& value, std::string_view text) {
    ResetHostValue(value);
    if (text.size() >= std::numeric_limits<std::uint32_t>::max()) {
        return false;
    }
    auto* copy = static_cast<char*>(Memory::Allocate(text.size() + 1));
    if (copy == nullptr) {
        return false;
    }
    if (!text.empty()) {
        std::memcpy(copy, text.data(), text.size());
    }
    copy[text.size()] = '\0';
    SetReference(value, HostValueType::StringOwned, copy, static_cast<std::uint32_t>(text.size()));
    return true;
}

bool SetBlob(HostValue& value, const void* bytes, std::size_t count) {
    ResetHostValue(value);
    if (count > std::numeric_limits<std::uint32_t>::max()) {
        return false;
    }
    void* copy = nullptr;
    if (count != 0) {
        copy = Memory::Allocate(count);
        if (copy == nullptr) {
            return false;
        }
        std::memcpy(copy, bytes, count);
    }
    SetReference(value, HostValueType::BlobOwned, copy, static_cast<std::uint32_t>(count));
    return true;
}

void SetArray(HostValue& value, HostValue* elements, std::uint32_t count) {
    ResetHostValue(value);
    SetReference(value, HostValueType::Array, elements, elements == nullptr ? 0 : count);
}

void SetMap(HostValue& value, HostMapEntry* entries, std::uint32_t count) {
    ResetHostValue(value);
    SetReference(value, HostValueType::Map, entries, entries == nullptr ? 0 : count);
}

HostValue* AllocateHostArray(std::size_t count) {
    return AllocateZeroed<HostValue>(count);
}

HostMapEntry* AllocateHostMap(std::size_t count) {
    return AllocateZeroed<HostMapEntry>(count);
}

bool SetKey(HostMapEntry& entry, const char* key) {
    return SetKey(entry, std::string_view(key == nullptr ? "" : key));
}

bool SetKey(HostMapEntry& entry, std::string_view key) {
    if (entry.ownsKey != 0) {
        Memory::Free(const_cast<char*>(entry.key));
    }
    entry.key = nullptr;
    entry.ownsKey = 0;
    auto* copy = static_cast<char*>(Memory::Allocate(key.size() + 1));
    if (copy == nullptr) {
        return false;
    }
    if (!key.empty()) {
        std::memcpy(copy, key.data(), key.size());
    }
    copy[key.size()] = '\0';
    entry.key = copy;
    entry.ownsKey = 1;
    return true;
}

void ResetHostValue(HostValue& root) noexcept {
    // Containers are detached from their record before their contents are
    // visited, so every record is released exactly once; arrays are freed
    // after their elements.
    // Most records released are texts and numbers: they need no work list,
    // so releasing them never allocates.
    const HostValueType rootType = TypeOf(root);
    if (rootType != HostValueType::Array && rootType != HostValueType::Map) {
        void* pointer = const_cast<void*>(root.payload.ref.pointer);
        Zero(root);
        if (rootType == HostValueType::StringOwned || rootType == HostValueType::BlobOwned) {
            Memory::Free(pointer);
        }
        return;
    }
    struct Work {
        HostValue* value;  // a record to release, or null
        void* block;       // an array to free once its elements are done
    };
    std::vector<Work> pending;
    // Room for a small container without regrowing.
    pending.reserve(16);
    pending.push_back({&root, nullptr});
    while (!pending.empty()) {
        const Work work = pending.back();
        pending.pop_back();
        if (work.value == nullptr) {
            Memory::Free(work.block);
            continue;
        }
        HostValue& value = *work.value;
        const HostValueType type = TypeOf(value);
        void* pointer = const_cast<void*>(value.payload.ref.pointer);
        const std::uint32_t count = value.payload.ref.count;
        Zero(value);
        switch (type) {
            case HostValueType::StringOwned:
            case HostValueType::BlobOwned:
                Memory::Free(pointer);
                break;
            case HostValueType::Array: {
                auto* elements = static_cast<HostValue*>(pointer);
                pending.push_back({nullptr, pointer});
                for (std::uint32_t i = 0; elements != nullptr && i < count; ++i) {
                    pending.push_back({&elements[i], nullptr});
                }
                break;
            }
            case HostValueType::Map: {
                auto* entries = static_cast<HostMapEntry*>(pointer);
                pending.push_back({nullptr, pointer});
                for (std::uint32_t i = 0; entries != nullptr && i < count; ++i) {
                    if (entries[i].ownsKey != 0) {
                        Memory::Free(const_cast<char*>(entries[i].key));
                    }
                    entries[i].key = nullptr;
                    entries[i].ownsKey = 0;
                    pending.push_back({&entries[i].value, nullptr});
                }
                break;
            }
            default:
                break;
        }
    }
}

void ResetHostMapEntry(HostMapEntry& entry) noexcept {
    if (entry.ownsKey != 0) {
        Memory::Free(const_cast<char*>(entry.key));
    }
    entry.key = nullptr;
    entry.ownsKey = 0;
    ResetHostValue(entry.value);
}

bool PropertyFromHostValue(BindingProperty& out, const HostValue& in, std::string_view name,
                           std::string& error) {
    try {
        return Convert(out, in, name, error, 0);
    } catch (const std::exception& exception) {
        error = Format(kException, name, exception.what());
        return false;
    }
}

BindingResult PropertyFromHostValue(const HostValue& in, std::string_view name) {
    BindingResult result;
    std::string error;
    if (!PropertyFromHostValue(result.Value(), in, name, error)) {
        result.Fail(error);
    }
    return result;
}

bool HostValueFromProperty(HostValue& out, const BindingProperty& in,
                           const BindingRegistry* registry) {
    bool built = false;
    try {
        built = Build(out, in, registry, 0);
    } catch (const std::exception&) {
        built = false;
    }
    if (!built) {
        ResetHostValue(out);
    }
    return built;
}

}  // namespace Tavo
