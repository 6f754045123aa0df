#pragma once
// LCDS calls through the host: the templates of AppModule::InvokeLcds,
// CallLcds and ToLcdsArguments (declared in framework/AppModule.h).
//
// The plugin never talks to LCDS itself. The host exposes it as one REST
// operation, POST "/vex-login/v1/session/invoke" with three positional
// arguments: the destination (a remote service), the method, and the
// method's arguments as a list. The host answers with a record
// {"typeName": the LCDS type of the result, "body": the result}, an empty
// body meaning that the method returned nothing.
//
// Two tables of the module adjust the exchange; both are filled while the
// module loads and read without a lock afterwards:
//   lcdsClassNames_        registered type name → LCDS class name, written
//                          into outgoing arguments as the member "__class";
//   lcdsResponseTypeNames_ StaticType id of a result type → the typeName an
//                          answer converted into it must carry.

#include <future>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/Converters.h"
#include "binding/StaticType.h"
#include "formats/JsonWriter.h"
#include "framework/AppModule.h"
#include "logging/Format.h"
#include "remoting/HttpMethod.h"

namespace Tavo::Client {

inline constexpr const char* kLcdsInvokePath = "/vex-login/v1/session/invoke";

template <class... Args>
Maybe<std::vector<BindingProperty>> AppModule::ToLcdsArguments(const Args&... args) const {
    std::vector<BindingProperty> list;
    list.reserve(sizeof...(Args));
    std::string error;
    bool converted = true;
    [[maybe_unused]] const auto append = [&](const auto& arg) {
        using A = std::decay_t<decltype(arg)>;
        BindingResult value = ToProperty(arg, Registry());
        if (!value.IsOk()) {
            error = std::string(value.ErrorMessage());
            return false;
        }
        // C texts and other non-registered kinds have no descriptor.
        if constexpr (BindingNative<A>) {
            AddLcdsClassNames(value.Value(), Registry().TypeInfoOf<A>());
        }
        list.push_back(std::move(value.Value()));
        return true;
    };
    // In order; the first failure stops the rest.
    ((converted = converted && append(args)), ...);
    if (!converted) {
        return Failure(0, std::move(error));
    }
    return list;
}

template <class R, class... Args>
Maybe<R> AppModule::LcdsResult(const std::string& destination, const std::string& method,
                               const Args&... args) {
    Maybe<std::vector<BindingProperty>> arguments = ToLcdsArguments(args...);
    if (!arguments) {
        return Failure(0, Format("Couldn't convert LCDS call parameters: %1", arguments.Error()));
    }
    Maybe<PluginLcdsResponse> response = Request<PluginLcdsResponse>(
        HttpMethod::Post, kLcdsInvokePath, destination, method, arguments.Value());
    if (!response) {
        return response.Error();
    }
    const PluginLcdsResponse& answer = response.Value();
    if (answer.body.IsEmpty()) {
        return Failure::Literal(0, nullptr);
    }
    const auto expected = lcdsResponseTypeNames_.find(StaticType::HashCode<R>());
    if (expected != lcdsResponseTypeNames_.end() && answer.typeName != expected->second) {
        return Failure(0, Format("Expected '%1' as LCDS response for %2.%3, but got '%4'",
                                 expected->second, destination, method, answer.typeName));
    }
    R value{};
    BindingResult context;
    FromProperty(context, value, answer.body, "<value>", Registry());
    if (!context.IsOk()) {
        return Failure(0, std::string("Couldn't convert LCDS DTO ") + StaticType::Named<R>().name +
                              " to C++ from " + WriteJson(answer.body, &Registry()));
    }
    return value;
}

template <class R, class... Args>
std::future<Maybe<R>> AppModule::InvokeLcds(const std::string& destination,
                                            const std::string& method, const Args&... args) {
    std::promise<Maybe<R>> promise;
    std::future<Maybe<R>> future = promise.get_future();
    // The host answers within the request, so the promise is kept at once.
    promise.set_value(LcdsResult<R>(destination, method, args...));
    return future;
}

template <class R, class... Args>
Maybe<R> AppModule::CallLcds(const std::string& destination, const std::string& method,
                             const Args&... args) {
    std::future<Maybe<R>> future = InvokeLcds<R>(destination, method, args...);
    return Await(future);
}

}  // namespace Tavo::Client
