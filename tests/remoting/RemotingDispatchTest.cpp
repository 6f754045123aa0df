// The dispatcher of exported functions, reached as a host reaches it: through
// the export block's first entry and its dispatch callback (any entry's
// dispatch context reaches every function).

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "abi/HostAbi.h"
#include "binding/BindingApiExport.h"
#include "binding/HostValueConvert.h"
#include "formats/JsonReader.h"
#include "formats/JsonWriter.h"
#include "remoting/RemotingApi.h"
#include "tests/remoting/ShopApi.h"

namespace Tavo::Testing {
namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;
using Arguments = std::vector<std::pair<std::optional<std::string>, BindingProperty>>;

// Fields left out of a designated initializer are empty.
struct TestRequest {
    HttpMethod method = HttpMethod::Get;
    std::string target{};
    std::string methodName{};
    Headers headers{};
    std::optional<std::string> body{};
    std::string contentType{};
    Arguments arguments{};  // host argument entries: a name, or none for a positional one
};

TestRequest Get(std::string target) {
    return {.target = std::move(target)};
}

TestRequest Post(std::string target, std::string contentType = {},
                 std::optional<std::string> body = {}, Headers headers = {}) {
    return {.method = HttpMethod::Post,
            .target = std::move(target),
            .headers = std::move(headers),
            .body = std::move(body),
            .contentType = std::move(contentType)};
}

TestRequest Add(Arguments arguments) {
    return {.method = HttpMethod::Post, .target = "/add/1", .arguments = std::move(arguments)};
}

// A host argument value, written as JSON.
BindingProperty Value(const char* json) {
    return std::move(ParseJson(json).Value());
}

// Reads and releases a response as one line: the status, "error: MESSAGE"
// when it is an error, the result as compact JSON when there is one (an
// error has none), then the content type and headers a function described.
std::string ReadReply(HostResponse& response) {
    std::string text = std::to_string(response.status);
    if (response.hasError != 0 || response.error != nullptr) {
        text += (response.hasError != 0 ? " error: " : " error text without the flag: ") +
                std::string(response.error != nullptr ? response.error : "(none)");
    }
    BindingResult body = PropertyFromHostValue(response.body, "<result>");
    EXPECT_TRUE(body.IsOk()) << body.ErrorMessage();
    if (const std::string json = WriteJson(body.Value()); !json.empty()) {
        text += " " + json;
    }
    if (response.contentType != nullptr && *response.contentType != '\0') {
        text += std::string(" [") + response.contentType + "]";
    }
    const HostHeaderPair* headers = response.headers;
    for (std::uint32_t i = 0; i < response.headerCount; ++i) {
        text += std::string(" ") + headers[i].name + "=" + headers[i].value;
    }
    const HostResponseReleaseFn release = response.release;  // packed: read by value
    EXPECT_NE(release, nullptr);
    if (release != nullptr) {
        release(&response);
    }
    return text;
}

struct Case {
    TestRequest request;
    std::string answer;  // as ReadReply writes it; a final "..." compares what precedes it
};

const std::string kTea = R"({"item":"tea","quantity":2})";

std::string TeaBy(const std::string& user) {
    return R"(200 {"item":"tea","notes":["by )" + user + R"("],"quantity":2})";
}

class RemotingDispatch : public ::testing::Test {
protected:
    // Sends each request and expects its answer, the function called
    // `calls` times for it.
    void Expect(const std::vector<Case>& cases, int calls) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.request.target);
            const int before = calls_;
            const std::string answer = Send(c.request);
            EXPECT_EQ(calls_ - before, calls);
            const auto compared = c.answer.ends_with("...") ? c.answer.size() - 3 : c.answer.npos;
            EXPECT_EQ(answer.substr(0, compared), c.answer.substr(0, compared));
        }
    }

    std::string Send(const TestRequest& request) {
        std::vector<HostHeaderPair> headers;
        for (const auto& [name, value] : request.headers) {
            headers.push_back({name.c_str(), value.c_str()});
        }
        std::vector<HostRequestArgument> arguments(request.arguments.size());
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            const auto& [name, value] = request.arguments[i];
            arguments[i].name = name ? name->c_str() : nullptr;
            EXPECT_TRUE(HostValueFromProperty(arguments[i].value, value, nullptr));
        }
        const ApiExportFunctionEntry& entry = exported_.Block().functions[0];
        HostRequest host{};
        host.method = static_cast<std::uint32_t>(request.method);
        host.target = request.target.c_str();
        host.arguments = arguments.empty() ? nullptr : arguments.data();
        host.argumentCount = static_cast<std::uint32_t>(arguments.size());
        host.dispatchContext = entry.function.dispatchContext;
        host.headers = headers.empty() ? nullptr : headers.data();
        host.headerCount = static_cast<std::uint32_t>(headers.size());
        host.contentType = request.contentType.c_str();
        if (request.body) {
            host.body = reinterpret_cast<const std::uint8_t*>(request.body->data());
            host.bodyLength = static_cast<std::uint32_t>(request.body->size());
        }
        host.context = 77;
        host.methodName = request.methodName.c_str();
        HostResponse response{};
        entry.dispatch(&response, &host);
        for (HostRequestArgument& argument : arguments) {
            ResetHostValue(argument.value);
        }
        return ReadReply(response);
    }

    int calls_ = 0;
    RemotingApi api_;
    BindingApiExport exported_{(DeclareShop(api_, calls_), BuildApiExport(api_))};
};

TEST_F(RemotingDispatch, CallsTheFunctionWithArgumentsFromEverySource) {
    Expect(
        {
            // Path captures, decoded after matching; literal routes match literally.
            {Get("/items/7/parts/a/b"), R"(200 {"id":7,"rest":"a/b"})"},
            {Get("/items/%37/parts/%41+b"), R"(200 {"id":7,"rest":"A b"})"},
            {Get("/a.b"), R"(200 "dotted")"},
            // Query arguments: scalars, repeated names, addressed elements, values
            // in JSON, YAML and MessagePack.
            {Get("/search?flag"), R"(200 {"count":0,"flag":true,"items":null})"},
            // HEAD reaches the GET route flagged for GET and HEAD.
            {{.method = HttpMethod::Head, .target = "/search?count=4"},
             R"(200 {"count":4,"flag":false,"items":null})"},
            {Get("/search?flag="), R"(200 {"count":0,"flag":true,"items":null})"},
            {Get("/search?flag=false&count=0x10"), R"(200 {"count":16,"flag":false,"items":null})"},
            {Get("/search"), R"(200 {"count":0,"flag":false,"items":null})"},
            {Get("/search?flag=1&count=2&count=3"), R"(200 {"count":3,"flag":true,"items":null})"},
            {Get("/search?items.2=5"), R"(200 {"count":0,"flag":false,"items":[null,null,"5"]})"},
            {Get("/search?items.x1=5"), R"(200 {"count":0,"flag":false,"items":{"x1":"5"}})"},
            {Get("/search?items.a.0x1=%7B%7D"),
             R"(200 {"count":0,"flag":false,"items":{"a":[null,"{}"]}})"},
            {Get("/search?items=%5B1,%7B%22k%22:2%7D%5D"),
             R"(200 {"count":0,"flag":false,"items":[1,{"k":2}]})"},
            {Get("/search?items=---%0Ak:+v"), R"(200 {"count":0,"flag":false,"items":{"k":"v"}})"},
            {Get("/search?items=%92%01%02"), R"(200 {"count":0,"flag":false,"items":[1,2]})"},
            // Addressing into a value of the step's own kind, or an empty one.
            {Get("/search?items=%5B1,2%5D&items.0=3"),
             R"(200 {"count":0,"flag":false,"items":["3",2]})"},
            {Get("/search?items=&items.0=1"), R"(200 {"count":0,"flag":false,"items":["1"]})"},
            // Empty pairs are ignored wherever they stand.
            {Get("/search?&flag&&count=2&"), R"(200 {"count":2,"flag":true,"items":null})"},
            {Get("/search?=&flag"), R"(200 {"count":0,"flag":true,"items":null})"},
            {Get("/search?items="), R"(200 {"count":0,"flag":false,"items":{}})"},
            {Get("/search?items.65535=1"), R"(200 {"count":0,"flag":false,"items":[null,null,...)"},
            // Headers are found by the lower-cased argument name only, and never
            // for a body argument.
            {Post("/orders", "Application/JSON; charset=utf-8", kTea, {{"userid", "ann"}}),
             TeaBy("ann")},
            {Post("/orders", "application/json", kTea, {{"UserId", "ann"}, {"order", "{}"}}),
             TeaBy("")},
            // Bodies by content type.
            {Post("/orders?userId=bo", "application/vnd.api+json", kTea), TeaBy("bo")},
            {Post("/orders?userId=bo", "application/x-yaml", "item: tea\nquantity: 2\n"),
             TeaBy("bo")},
            {Post("/orders?userId=bo", "application/x-msgpack",
                  "\x82\xA4item\xA3tea\xA8quantity\x02"),
             TeaBy("bo")},
            // Positional host arguments follow the path parameters.
            {Add({{std::nullopt, Value("2")}, {"c", Value(R"("3")")}}), "200 123"},
            // The request record in, a response description out; the host's
            // context word as the result.
            {{.method = HttpMethod::Named,
              .target = "/echo",
              .methodName = "ECHO",
              .headers = {{"a", "1"}, {"a", "2"}}},
             "201 77 [text/plain] x-path=/echo x-method= a=2"},
            // A failed result keeps an error status of its own; an exception
            // becomes an internal error.
            {Get("/fail/404"), "404 error: It went wrong"},
            {Get("/fail/0"), "500 error: It went wrong"},
            {Get("/fail/200"), "500 error: It went wrong"},
            {Get("/throw"), "500 error: Unhandled exception: boom"},
        },
        1);
}

TEST_F(RemotingDispatch, RefusesBadRequestsWithoutCallingTheFunction) {
    Expect(
        {
            // Nothing serves it.
            {Get("/items/7"), "404 error: Invalid function"},
            {Get("/axb"), "404 error: Invalid function"},
            {Post("/a.b"), "404 error: Invalid function"},
            {{.method = HttpMethod::Head, .target = "/a.b"}, "404 error: Invalid function"},
            {{.method = HttpMethod::Put, .target = "/search"}, "404 error: Invalid function"},
            // Query values that are required, names, element indices (at most
            // 65,536 new elements, at once or in all), values that do not parse.
            {Get("/search?count"), "400 error: Expected value for argument 'count'."},
            {Get("/search?count="), "400 error: Expected value for argument 'count'."},
            {Get("/search?colour=red"), "400 error: Unknown argument 'colour' for 'Search'."},
            // Addressing that would replace what is there already, and names
            // without an argument part.
            {Get("/search?items.0=1&items.x=2"),
             "400 error: Argument 'items' for 'Search' is addressed as 'items.x' through a value "
             "of another kind."},
            {Get("/search?items=%7B%22a%22:1%7D&items.0=2"),
             "400 error: Argument 'items' for 'Search' is addressed as 'items.0' through a value "
             "of another kind."},
            {Get("/search?items.b=1&items.b.0=2"),
             "400 error: Argument 'items' for 'Search' is addressed as 'items.b.0' through a "
             "value of another kind."},
            {Get("/search?flag.x=1"),
             "400 error: Argument 'flag' for 'Search' is addressed as 'flag.x' through a value "
             "of another kind."},
            {Get("/search?=5"), "400 error: Value '5' for 'Search' has no argument name."},
            {Get("/search?flag&.x=%41"), "400 error: Value 'A' for 'Search' has no argument name."},
            {Get("/search?items.1x=5"), "400 error: Index 1x is in an incorrect format"},
            {Get("/search?items.0x=5"), "400 error: Index 0x is in an incorrect format"},
            {Get("/search?items.2147483648=5"), "400 error: Index 2147483648 is out of range"},
            {Get("/search?items.99999999999999999999=5"),
             "400 error: Index 99999999999999999999 is out of range"},
            {Get("/search?items.65536=1"), "400 error: Index 65536 is out of range"},
            {Get("/search?items.a.40000=1&items.b.40000=1"),
             "400 error: Index 40000 is out of range"},
            {Get("/search?items=%5B1,"),
             "400 error: Couldn't deserialize JSON value for parameter 'items' of 'Search': "
             "Error: Invalid value. at offset 3."},
            {Get("/search?count=12abc"),
             "400 error: Value 12abc for 'count' of type int32 is in an incorrect format"},
            // A body argument given in the query.
            {Post("/orders?order=%7B%7D", "application/json", R"({"item":"tea"})"),
             "400 error: Argument 'order' for 'PlaceOrder' was specified in an invalid location."},
            // Bodies.
            {Post("/orders", "application/json", "[1,"),
             "400 error: Error: Invalid value. at offset 3."},
            {Post("/orders", "application/x-msgpack", std::string("\x81\xA4item\xA3tea\xC0", 11)),
             "400 error: Extra MessgePack data found in body"},
            {Post("/orders", "text/x-yaml", "item: tea"),
             "400 error: Unsupported body content type"},
            {Post("/orders", "", "{}"), "400 error: Unsupported body content type"},
            {Post("/orders", "application/json", R"({"quantity":-1})"),
             "400 error: Value -1 for 'quantity' of type uint32 is out of range"},
            // Host arguments that match nothing.
            {Add({{std::nullopt, Value("1")},
                  {std::nullopt, Value("1")},
                  {std::nullopt, Value("1")}}),
             "400 error: Unknown argument '3' for 'Add'."},
            {Add({{"B", Value("1")}}), "400 error: Unknown argument 'B' for 'Add'."},
        },
        0);
}

TEST_F(RemotingDispatch, AnswersARequestWithoutDispatchContextAndSurvivesNoResponse) {
    HostRequest request{};
    HostResponse response{};
    exported_.Block().functions[0].dispatch(&response, &request);
    EXPECT_EQ(ReadReply(response), "404 error: Invalid function");
    exported_.Block().functions[0].dispatch(nullptr, &request);
}

}  // namespace
}  // namespace Tavo::Testing
