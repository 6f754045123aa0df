#include "binding/BindingFunction.h"

#include <utility>

#include "binding/detail/BindingFunctionInvoker.h"
#include "logging/Diagnostics.h"

namespace Tavo {

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

BindingFunctionBuilder& BindingFunctionBuilder::Route(HttpMethod method,
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
        function_->method = HttpMethod::Named;
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
