#pragma once
// Exported functions: their declarations in the registry, the REST endpoint
// each describes (method, URL template, arguments and where they come from),
// and what a function may say about its answer besides its result.
//
// A function declared in the registry becomes a REST endpoint of the plugin:
//
//   registry.DeclareFunction("GetItem", [](std::uint32_t id, bool verbose) { ... })
//       .Route(HttpMethod::Get, "/items/{id}")
//       .Argument("id", BindingArgumentLocation::Path, "Item number")
//       .OptionalArgument("verbose", BindingArgumentLocation::Query)
//       .SetDescription("Reads one item.");
//
// The native types of the arguments and of the result are deduced from the
// callable; each argument gets its name, location and flags from the
// Argument calls, in parameter order. Two parameter types are not arguments:
// a request record (a type marked as in BindingRequestRecord, taken by value
// or const reference) receives the dispatcher's record of the whole request,
// and a `BindingFunctionResponse&` lets the function describe its answer
// (status, content type, headers, a streamed body). The result is any
// bindable type, nothing, or a MaybeType over Failure and either.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "abi/HostAbi.h"
#include "binding/BindingBuilderBase.h"
#include "binding/BindingProperty.h"
#include "binding/BindingTypeInfo.h"
#include "binding/HttpMethod.h"
#include "binding/StaticType.h"

namespace Tavo {

// Where an argument may come from. The codes cross the boundary in the
// export entries.
enum class BindingArgumentLocation : std::uint32_t {
    Any = 0,
    Query = 1,
    Path = 2,  // a placeholder of the URL template
    Header = 4,
    Body = 5,
};

// Route flag: the route serves GET and HEAD requests only.
inline constexpr std::uint8_t kBindingRouteGetOnly = 1u;

// A type the dispatcher hands to a function whole, instead of converted
// arguments. It says so with `static constexpr bool kBindingRequestRecord =
// true;` (the remoting request records do).
template <class T>
concept BindingRequestRecord = requires {
    requires T::kBindingRequestRecord;
};

struct BindingFunctionArgument {
    std::string name;
    std::string description;
    const StaticType* staticType = nullptr;  // the parameter's native type
    BindingTypeInfo typeInfo;
    BindingArgumentLocation location = BindingArgumentLocation::Any;
    bool optional = false;  // absent: the parameter keeps its default value
};

// How a function answers besides its result value. A function fills it
// through a `BindingFunctionResponse&` parameter; the dispatcher copies it
// into the host's response record.
struct BindingFunctionResponse {
    // HTTP status; 0 lets the dispatcher choose (200 on success, the
    // failure's code when it is 400 to 599, else 500).
    std::int32_t status = 0;
    std::uint8_t flags = 0;
    std::uint32_t format = 0;  // body format code 1..3, or 0
    std::string contentType;
    std::vector<std::pair<std::string, std::string>> headers;  // in order
    // A streamed body, read by the host instead of the result when
    // `streamRead` is set. `streamContext` belongs to the stream; once the
    // stream is handed over, the host ends it with `streamClose`.
    HostStreamReadFn streamRead = nullptr;
    HostStreamCloseFn streamClose = nullptr;
    std::uint64_t expectedSize = 0;
    void* streamContext = nullptr;
};

// Runs one declared function. One object per function, owned by its
// descriptor; its operations may run on several threads at once, each call
// with its own handle.
class BindingFunctionInvoker {
public:
    // Converts `arguments` (one per declared argument, in declaration order)
    // into the native parameters. Returns the call handle, or null with
    // `slot` failed when a conversion failed. `context` is the host's request
    // context word.
    virtual void* Prepare(BindingResult& slot, const std::vector<BindingProperty>& arguments,
                          std::uintptr_t context) const = 0;
    // Runs the function with the prepared parameters and leaves its result in
    // `slot` (ok with the value, or failed with the message) and its answer
    // in `response`. `request` is the request record when RequestType() names
    // one, else null. Exceptions of the function pass through.
    virtual void Call(BindingResult& slot, const void* request, void* handle,
                      std::uintptr_t context, BindingFunctionResponse& response) const = 0;
    // Releases a handle from Prepare (null is ignored).
    virtual void Release(void* handle) const noexcept = 0;
    // The static type of the request-record parameter, or null when there is
    // none.
    virtual const StaticType* RequestType() const = 0;
    virtual ~BindingFunctionInvoker() = default;
};

// An exported function: what the export block describes and what the
// dispatcher needs to route to it and call it.
struct BindingFunctionDescriptor {
    virtual ~BindingFunctionDescriptor() = default;
    std::string name;
    std::string nameSpace;
    std::string description;
    std::string help;
    std::vector<std::string> tags;
    bool threadSafe = false;
    std::string asyncResultName;  // empty for a synchronous function
    // Route: the method (None accepts every method), the method's name for
    // HttpMethod::Named, the URL template and the kBindingRoute* flags.
    HttpMethod method = HttpMethod::None;
    std::string methodName;
    std::string urlTemplate;
    std::uint8_t routeFlags = 0;
    std::vector<BindingFunctionArgument> arguments;  // in parameter order
    const StaticType* resultType = nullptr;          // null for nothing
    BindingTypeInfo resultTypeInfo;
    std::unique_ptr<BindingFunctionInvoker> invoker;
};

// Completes a function declaration. Arguments are named in parameter order;
// an argument never named keeps the name "arg" followed by its index.
class BindingFunctionBuilder : public BindingBuilderBase {
public:
    BindingFunctionBuilder(BindingRegistry* registry, BindingFunctionDescriptor* function,
                           bool failed)
        : BindingBuilderBase(registry, failed), function_(function) {}

    // The function declared (or, for a failed builder, the one found).
    const BindingFunctionDescriptor* Descriptor() const { return function_; }

    // Names the next argument and says where a request may supply it. Naming
    // more arguments than the callable takes is a misuse (asserted, ignored).
    BindingFunctionBuilder& Argument(
        std::string_view name, BindingArgumentLocation location = BindingArgumentLocation::Any,
        std::string_view description = {});
    // The same for an argument a request may leave out: the parameter then
    // keeps its default value.
    BindingFunctionBuilder& OptionalArgument(
        std::string_view name, BindingArgumentLocation location = BindingArgumentLocation::Any,
        std::string_view description = {});

    // The route: an HTTP method (None accepts every method) and a URL
    // template such as "/items/{id}/parts/{+rest}". For a method named by
    // text use RouteNamedMethod.
    BindingFunctionBuilder& Route(HttpMethod method, std::string_view urlTemplate);
    // A route for a method named by text (HttpMethod::Named).
    BindingFunctionBuilder& RouteNamedMethod(std::string_view methodName,
                                             std::string_view urlTemplate);
    // Serve GET and HEAD requests only.
    BindingFunctionBuilder& RestrictToGetAndHead();

    BindingFunctionBuilder& SetNameSpace(std::string_view nameSpace);
    BindingFunctionBuilder& SetDescription(std::string_view description);
    BindingFunctionBuilder& SetHelp(std::string_view help);
    BindingFunctionBuilder& AddTag(std::string_view tag);
    BindingFunctionBuilder& AddTags(std::initializer_list<std::string_view> tags);
    BindingFunctionBuilder& AddTags(const std::vector<std::string>& tags);
    BindingFunctionBuilder& SetThreadSafe(bool threadSafe = true);
    // Names the asynchronous result of an asynchronous function.
    BindingFunctionBuilder& SetAsync(std::string_view resultName);

private:
    BindingFunctionBuilder& NameArgument(std::string_view name, BindingArgumentLocation location,
                                         std::string_view description, bool optional);

    BindingFunctionDescriptor* function_;
    std::size_t nextArgument_ = 0;
};

}  // namespace Tavo
