#include "binding/BindingRegistry.h"

#include "logging/Diagnostics.h"

#include <utility>

namespace Tavo {

const char* BindingNativeKindName(BindingNativeKind kind) {
    static constexpr const char* kNames[] = {
        "",       "bool",   "int8",   "uint8",  "int16",    "uint16", "int32",
        "uint32", "int64",  "uint64", "float",  "double",   "string", "object",
        "blob",   "vector", "enum",   "struct", "callback", "map",
    };
    const auto code = static_cast<std::uint32_t>(kind);
    return code < std::size(kNames) ? kNames[code] : "";
}

const BindingFieldDescriptor* BindingTypeDescriptor::FindField(std::string_view fieldName) const {
    for (const BindingFieldDescriptor& field : fields) {
        if (field.name == fieldName) {
            return &field;
        }
    }
    return nullptr;
}

const char* BindingTypeDescriptor::ValueName(std::int32_t value) const {
    for (const auto& [name, entry] : values) {
        if (entry.value == value) {
            return name.c_str();
        }
    }
    return nullptr;
}

// --- Builders ----------------------------------------------------------------

BindingStructBuilderBase& BindingStructBuilderBase::AddFieldSpec(BindingFieldSpec spec) {
    if (failed_ || spec.converter == nullptr) {
        return *this;
    }
    BindingFieldDescriptor field;
    field.name = std::string(spec.name);
    field.nameHash = Fnv1a32(spec.name);
    field.description = std::string(spec.description);
    field.staticType = spec.staticType;
    field.offset = spec.offset;
    field.typeInfo = spec.typeInfo;
    if (spec.overrideTypeInfo.kind != BindingNativeKind::None) {
        field.overrideTypeInfo = spec.overrideTypeInfo;
    }
    field.flags = spec.flags;
    field.converter = std::move(spec.converter);
    field.owner = descriptor_;
    field.optional = spec.optional;
    descriptor_->fields.push_back(std::move(field));
    return *this;
}

namespace {

void AppendTag(std::vector<std::string>& tags, std::string_view tag) {
    if (!tag.empty()) {
        tags.emplace_back(tag);
    }
}

}  // namespace

BindingStructBuilderBase& BindingStructBuilderBase::AddTag(std::string_view tag) {
    if (!failed_) {
        AppendTag(descriptor_->tags, tag);
    }
    return *this;
}

BindingStructBuilderBase& BindingStructBuilderBase::AddTags(
    std::initializer_list<std::string_view> tags) {
    for (std::string_view tag : tags) {
        AddTag(tag);
    }
    return *this;
}

BindingStructBuilderBase& BindingStructBuilderBase::AddTags(const std::vector<std::string>& tags) {
    for (const std::string& tag : tags) {
        AddTag(tag);
    }
    return *this;
}

BindingStructBuilderBase& BindingStructBuilderBase::SetDescription(std::string_view description) {
    if (!failed_) {
        descriptor_->description = std::string(description);
    }
    return *this;
}

BindingStructBuilderBase& BindingStructBuilderBase::SetNameSpace(std::string_view nameSpace) {
    if (!failed_) {
        descriptor_->nameSpace = std::string(nameSpace);
    }
    return *this;
}

BindingEnumBuilder& BindingEnumBuilder::AddValue(std::string_view name, std::int32_t value,
                                                 std::string_view description) {
    if (failed_) {
        return *this;
    }
    BindingEnumValue entry{value, std::string(name), std::string(description), descriptor_};
    descriptor_->values.insert_or_assign(std::string(name), std::move(entry));
    return *this;
}

BindingEnumBuilder& BindingEnumBuilder::AddTag(std::string_view tag) {
    if (!failed_) {
        AppendTag(descriptor_->tags, tag);
    }
    return *this;
}

BindingEnumBuilder& BindingEnumBuilder::AddTags(std::initializer_list<std::string_view> tags) {
    for (std::string_view tag : tags) {
        AddTag(tag);
    }
    return *this;
}

BindingEnumBuilder& BindingEnumBuilder::AddTags(const std::vector<std::string>& tags) {
    for (const std::string& tag : tags) {
        AddTag(tag);
    }
    return *this;
}

BindingEnumBuilder& BindingEnumBuilder::SetDescription(std::string_view description) {
    if (!failed_) {
        descriptor_->description = std::string(description);
    }
    return *this;
}

BindingEnumBuilder& BindingEnumBuilder::SetNameSpace(std::string_view nameSpace) {
    if (!failed_) {
        descriptor_->nameSpace = std::string(nameSpace);
    }
    return *this;
}

BindingEventBuilder& BindingEventBuilder::AddTag(std::string_view tag) {
    if (!failed_) {
        AppendTag(event_->tags, tag);
    }
    return *this;
}

BindingEventBuilder& BindingEventBuilder::AddTags(std::initializer_list<std::string_view> tags) {
    for (std::string_view tag : tags) {
        AddTag(tag);
    }
    return *this;
}

BindingEventBuilder& BindingEventBuilder::AddTags(const std::vector<std::string>& tags) {
    for (const std::string& tag : tags) {
        AddTag(tag);
    }
    return *this;
}

BindingEventBuilder& BindingEventBuilder::SetDescription(std::string_view description) {
    if (!failed_) {
        event_->description = std::string(description);
    }
    return *this;
}

BindingEventBuilder& BindingEventBuilder::SetNameSpace(std::string_view nameSpace) {
    if (!failed_) {
        event_->nameSpace = std::string(nameSpace);
    }
    return *this;
}

// --- Registry ------------------------------------------------------------------

BindingRegistry::BindingRegistry() = default;
BindingRegistry::~BindingRegistry() = default;

BindingRegistry::Declared BindingRegistry::Declare(std::string_view name, std::uint32_t size,
                                                   bool isEnum, const StaticType& type) {
    std::string key(name);
    std::lock_guard lock(mutex_);
    if (auto found = typesByName_.find(key); found != typesByName_.end()) {
        return {found->second, true};
    }
    auto descriptor = std::make_unique<BindingTypeDescriptor>();
    descriptor->size = size;
    descriptor->isEnum = isEnum;
    descriptor->name = key;
    descriptor->typeId = type.hashCode;
    descriptor->staticType = &type;
    descriptor->registry = this;
    BindingTypeDescriptor* raw = descriptor.get();
    types_.push_back(std::move(descriptor));
    typesByName_.emplace(std::move(key), raw);
    // A type declared with the identity of void is reachable by name only. A
    // second name for the same native type keeps the id pointing at the first.
    if (type.hashCode != StaticType::Anonymous<void>().hashCode) {
        typesById_.emplace(type.hashCode, raw);
    }
    return {raw, false};
}

BindingStructBuilderBase BindingRegistry::DeclareStruct(std::string_view name, std::uint32_t size,
                                                        const StaticType& type) {
    auto [descriptor, failed] = Declare(name, size, false, type);
    return BindingStructBuilderBase(this, descriptor, failed);
}

BindingEnumBuilder BindingRegistry::DeclareEnum(std::string_view name, const StaticType& type,
                                                std::uint32_t size) {
    auto [descriptor, failed] = Declare(name, size, true, type);
    return BindingEnumBuilder(this, descriptor, failed);
}

BindingEventBuilder BindingRegistry::DeclareEvent(std::string_view name,
                                                  const BindingTypeDescriptor* payload) {
    std::string key(name);
    std::lock_guard lock(mutex_);
    if (auto found = eventsByName_.find(key); found != eventsByName_.end()) {
        return BindingEventBuilder(this, found->second, true);
    }
    auto event = std::make_unique<BindingEventDescriptor>();
    event->name = key;
    event->payload = payload;
    BindingEventDescriptor* raw = event.get();
    events_.push_back(std::move(event));
    eventsByName_.emplace(std::move(key), raw);
    return BindingEventBuilder(this, raw, false);
}

const BindingTypeDescriptor* BindingRegistry::FindTypeByName(std::string_view name) const {
    std::lock_guard lock(mutex_);
    auto found = typesByName_.find(name);
    return found == typesByName_.end() ? nullptr : found->second;
}

const BindingTypeDescriptor* BindingRegistry::FindTypeById(const StaticType& type) const {
    return FindTypeById(type.hashCode);
}

const BindingTypeDescriptor* BindingRegistry::FindTypeById(std::uint32_t typeId) const {
    std::lock_guard lock(mutex_);
    auto found = typesById_.find(typeId);
    return found == typesById_.end() ? nullptr : found->second;
}

const BindingEventDescriptor* BindingRegistry::FindEventByName(std::string_view name) const {
    std::lock_guard lock(mutex_);
    auto found = eventsByName_.find(name);
    return found == eventsByName_.end() ? nullptr : found->second;
}

const char* BindingRegistry::EnumValueName(const StaticType& type, std::int32_t value) const {
    const BindingTypeDescriptor* descriptor = FindTypeById(type);
    if (descriptor == nullptr || !descriptor->isEnum) {
        return nullptr;
    }
    return descriptor->ValueName(value);
}

BindingTypeInfo BindingRegistry::TypeInfoOf(const StaticType& type) const {
    const BindingTypeDescriptor* descriptor = FindTypeById(type);
    if (descriptor == nullptr) {
        return {};
    }
    return {descriptor->isEnum ? BindingNativeKind::Enum : BindingNativeKind::Struct,
            BindingNativeKind::None, descriptor};
}

bool BindingRegistry::SetTypeDescription(std::string_view typeName, std::string_view description) {
    std::lock_guard lock(mutex_);
    auto found = typesByName_.find(typeName);
    if (found == typesByName_.end()) {
        return false;
    }
    found->second->description = std::string(description);
    return true;
}

bool BindingRegistry::SetEventDescription(std::string_view eventName,
                                          std::string_view description) {
    std::lock_guard lock(mutex_);
    auto found = eventsByName_.find(eventName);
    if (found == eventsByName_.end()) {
        return false;
    }
    found->second->description = std::string(description);
    return true;
}

std::vector<const BindingTypeDescriptor*> BindingRegistry::Types() const {
    std::lock_guard lock(mutex_);
    std::vector<const BindingTypeDescriptor*> result;
    result.reserve(types_.size());
    for (const auto& descriptor : types_) {
        result.push_back(descriptor.get());
    }
    return result;
}

std::vector<const BindingEventDescriptor*> BindingRegistry::Events() const {
    std::lock_guard lock(mutex_);
    std::vector<const BindingEventDescriptor*> result;
    result.reserve(events_.size());
    for (const auto& event : events_) {
        result.push_back(event.get());
    }
    return result;
}

bool BindingRegistry::HasBuiltins() const {
    std::lock_guard lock(mutex_);
    return builtins_;
}

void BindingRegistry::MarkBuiltinsRegistered() {
    std::lock_guard lock(mutex_);
    builtins_ = true;
}

bool BindingRegistry::AddFunction(std::unique_ptr<BindingFunctionDescriptor> function) {
    if (function == nullptr) {
        return false;
    }
    return !AddDeclaredFunction(std::move(function)).Failed();
}

BindingFunctionBuilder BindingRegistry::AddDeclaredFunction(
    std::unique_ptr<BindingFunctionDescriptor> function) {
    std::string key = function->name;
    std::lock_guard lock(mutex_);
    if (auto found = functions_.find(key); found != functions_.end()) {
        return BindingFunctionBuilder(this, found->second.get(), true);
    }
    BindingFunctionDescriptor* raw = function.get();
    functions_.emplace(std::move(key), std::move(function));
    functionOrder_.push_back(raw);
    return BindingFunctionBuilder(this, raw, false);
}

void BindingRegistry::ExportFunctions(BindingApiExport&) const {}

const BindingFunctionDescriptor* BindingRegistry::FindFunctionByName(std::string_view name) const {
    std::lock_guard lock(mutex_);
    auto found = functions_.find(name);
    return found == functions_.end() ? nullptr : found->second.get();
}

std::vector<const BindingFunctionDescriptor*> BindingRegistry::Functions() const {
    std::lock_guard lock(mutex_);
    return functionOrder_;
}

// --- Function declarations ---------------------------------------------------

namespace detail {

void FailFunction(BindingResult& slot, BindingFunctionResponse& response, const Failure& failure) {
    slot.Fail(failure.HasMessage() ? failure.Message() : "");
    if (response.status == 0) {
        const std::int32_t code = failure.Code();
        response.status = code >= 400 && code <= 599 ? code : 500;
    }
}

}  // namespace detail

BindingFunctionBuilder& BindingFunctionBuilder::NameArgument(std::string_view name,
                                                             BindingArgumentLocation location,
                                                             std::string_view description,
                                                             bool optional) {
    if (failed_) {
        return *this;
    }
    TAVO_ASSERT(nextArgument_ < function_->arguments.size());
    if (nextArgument_ >= function_->arguments.size()) {
        return *this;
    }
    BindingFunctionArgument& argument = function_->arguments[nextArgument_++];
    argument.name = std::string(name);
    argument.location = location;
    argument.description = std::string(description);
    argument.optional = optional;
    return *this;
}

BindingFunctionBuilder& BindingFunctionBuilder::Argument(std::string_view name,
                                                         BindingArgumentLocation location,
                                                         std::string_view description) {
    return NameArgument(name, location, description, false);
}

BindingFunctionBuilder& BindingFunctionBuilder::OptionalArgument(std::string_view name,
                                                                 BindingArgumentLocation location,
                                                                 std::string_view description) {
    return NameArgument(name, location, description, true);
}

BindingFunctionBuilder& BindingFunctionBuilder::Route(std::uint32_t method,
                                                      std::string_view urlTemplate) {
    if (!failed_) {
        function_->method = method;
        function_->methodName.clear();
        function_->urlTemplate = std::string(urlTemplate);
    }
    return *this;
}

BindingFunctionBuilder& BindingFunctionBuilder::RouteNamedMethod(std::string_view methodName,
                                                                 std::string_view urlTemplate) {
    if (!failed_) {
        function_->method = 8;
        function_->methodName = std::string(methodName);
        function_->urlTemplate = std::string(urlTemplate);
    }
    return *this;
}

BindingFunctionBuilder& BindingFunctionBuilder::RestrictToGetAndHead() {
    if (!failed_) {
        function_->routeFlags |= kBindingRouteGetOnly;
    }
    return *this;
}

BindingFunctionBuilder& BindingFunctionBuilder::SetNameSpace(std::string_view nameSpace) {
    if (!failed_) {
        function_->nameSpace = std::string(nameSpace);
    }
    return *this;
}

BindingFunctionBuilder& BindingFunctionBuilder::SetDescription(std::string_view description) {
    if (!failed_) {
        function_->description = std::string(description);
    }
    return *this;
}

BindingFunctionBuilder& BindingFunctionBuilder::SetHelp(std::string_view help) {
    if (!failed_) {
        function_->help = std::string(help);
    }
    return *this;
}

BindingFunctionBuilder& BindingFunctionBuilder::AddTag(std::string_view tag) {
    if (!failed_) {
        AppendTag(function_->tags, tag);
    }
    return *this;
}

BindingFunctionBuilder& BindingFunctionBuilder::AddTags(
    std::initializer_list<std::string_view> tags) {
    for (std::string_view tag : tags) {
        AddTag(tag);
    }
    return *this;
}

BindingFunctionBuilder& BindingFunctionBuilder::AddTags(const std::vector<std::string>& tags) {
    for (const std::string& tag : tags) {
        AddTag(tag);
    }
    return *this;
}

BindingFunctionBuilder& BindingFunctionBuilder::SetThreadSafe(bool threadSafe) {
    if (!failed_) {
        function_->threadSafe = threadSafe;
    }
    return *this;
}

BindingFunctionBuilder& BindingFunctionBuilder::SetAsync(std::string_view resultName) {
    if (!failed_) {
        function_->asyncResultName = std::string(resultName);
    }
    return *this;
}

}  // namespace Tavo
