#pragma once
// A small API of exported functions covering every argument source, shared
// by the dispatcher tests and the test plugin. Each function counts its
// calls, so a test can tell that a refused request never reached it.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/BindingRegistry.h"
#include "logging/Failure.h"
#include "remoting/RemotingApi.h"

namespace Tavo::Testing {

struct Order {
    std::string item;
    std::uint32_t quantity = 0;
    std::vector<std::string> notes;
};

inline void DescribeBinding(BindingRegistry& registry, BindingTag<Order>) {
    registry.DeclareStruct<Order>("Order")
        .AddField("item", &Order::item)
        .AddField("quantity", &Order::quantity)
        .AddField("notes", &Order::notes);
}

using Location = BindingArgumentLocation;

inline void DeclareShop(BindingRegistry& api, int& calls) {
    api.Register<Order>();
    api.DeclareFunction("GetPart",
                        [&calls](std::uint32_t id, std::string rest) {
                            ++calls;
                            BindingProperty out;
                            out.Field("id").SetUnsigned(id);
                            out.Field("rest").SetString(rest);
                            return out;
                        })
        .Route(HttpMethod::Get, "/items/{id}/parts/{+rest}")
        .Argument("id", Location::Path, "Item number")
        .Argument("rest", Location::Path)
        .SetDescription("Reads a part of an item.");
    api.DeclareFunction("GetDotted",
                        [&calls] {
                            ++calls;
                            return std::string("dotted");
                        })
        .Route(HttpMethod::Get, "/a.b");
    api.DeclareFunction("Search",
                        [&calls](bool flag, std::int32_t count, BindingProperty items) {
                            ++calls;
                            BindingProperty out;
                            out.Field("flag").SetBool(flag);
                            out.Field("count").SetSigned(count);
                            out.Field("items") = items;
                            return out;
                        })
        .Route(HttpMethod::Get, "/search")
        .RestrictToGetAndHead()
        .Argument("flag", Location::Query)
        .OptionalArgument("count", Location::Query)
        .OptionalArgument("items");
    api.DeclareFunction("PlaceOrder",
                        [&calls](Order order, std::string userId) {
                            ++calls;
                            order.notes.push_back("by " + userId);
                            return order;
                        })
        .Route(HttpMethod::Post, "/orders")
        .Argument("order", Location::Body)
        .OptionalArgument("userId");
    api.DeclareFunction(
           "Add",
           [&calls](std::int32_t a, std::int32_t b, std::int32_t c) {
               ++calls;
               // In 64 bits, so that no argument overflows; the
               // result wraps to 32 bits.
               return static_cast<std::int32_t>(std::int64_t{a} * 100 + std::int64_t{b} * 10 + c);
           })
        .Route(HttpMethod::Post, "/add/{a}")
        .Argument("a", Location::Path)
        .Argument("b")
        .OptionalArgument("c")
        .SetThreadSafe();
    api.DeclareFunction("Fail",
                        [&calls](std::int32_t code) -> Maybe<void> {
                            ++calls;
                            return Failure(code, "It went wrong");
                        })
        .Route(HttpMethod::Get, "/fail/{code}")
        .Argument("code", Location::Path);
    api.DeclareFunction("Echo",
                        [&calls](const RemotingRequest& request, RemotingResponse& response) {
                            ++calls;
                            response.status = 201;
                            response.contentType = "text/plain";
                            response.headers = {{"x-path", request.path},
                                                {"x-method", MethodName(request.method)}};
                            for (const auto& [name, value] : request.headers) {
                                response.headers.emplace_back(name, value);
                            }
                            return std::uint64_t{request.context};
                        })
        .RouteNamedMethod("ECHO", "/echo");
    api.DeclareFunction("Throw",
                        [&calls]() -> std::string {
                            ++calls;
                            throw std::runtime_error("boom");
                        })
        .Route(HttpMethod::Get, "/throw");
}

}  // namespace Tavo::Testing
