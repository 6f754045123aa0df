#include <gtest/gtest.h>

#include <string>

#include "tests/remoting/RemotingTestSupport.h"
#include "tests/remoting/ShopApi.h"

namespace Tavo::Testing {
namespace {

class RemotingDispatchError : public ::testing::Test {
protected:
    // Sends the request and expects it refused before the function runs.
    void ExpectRefused(const TestRequest& request, const std::string& error,
                       std::int32_t status = 400) {
        SCOPED_TRACE(request.target);
        const int before = calls_;
        const Reply reply = exported_.Send(request);
        EXPECT_TRUE(reply.hasError);
        EXPECT_EQ(reply.error, error);
        EXPECT_EQ(reply.status, status);
        EXPECT_EQ(reply.json, "");  // no result value
        EXPECT_EQ(calls_, before);
    }
    void ExpectRefused(std::string target, const std::string& error, std::int32_t status = 400) {
        TestRequest request;
        request.target = std::move(target);
        ExpectRefused(request, error, status);
    }
    TestRequest Order(std::string body, std::string contentType) {
        TestRequest request;
        request.method = HttpMethod::Post;
        request.target = "/orders";
        request.body = std::move(body);
        request.contentType = std::move(contentType);
        return request;
    }

    int calls_ = 0;
    RemotingApi api_;
    ExportedApi exported_{(DeclareShop(api_, calls_), api_)};
};

TEST_F(RemotingDispatchError, RefusesBadQueryArguments) {
    struct Row {
        const char* target;
        const char* error;
    };
    const Row rows[] = {
        // Values that are required.
        {"/search?count", "Expected value for argument 'count'."},
        {"/search?count=", "Expected value for argument 'count'."},
        // Names.
        {"/search?colour=red", "Unknown argument 'colour' for 'Search'."},
        {"/search?flag.x=1",
         "Couldn't assign value to 'flag' of type bool because the input is of an invalid type "
         "structure."},
        // Element indices.
        {"/search?items.1x=5", "Index 1x is in an incorrect format"},
        {"/search?items.0x=5", "Index 0x is in an incorrect format"},
        {"/search?items.2147483648=5", "Index 2147483648 is out of range"},
        {"/search?items.99999999999999999999=5", "Index 99999999999999999999 is out of range"},
        // More than 65,536 new elements, at once or in all.
        {"/search?items.65536=1", "Index 65536 is out of range"},
        {"/search?items.a.40000=1&items.b.40000=1", "Index 40000 is out of range"},
        // Values that do not parse.
        {"/search?items=%5B1,",
         "Couldn't deserialize JSON value for parameter 'items' of 'Search': "
         "Error: Invalid value. at offset 3."},
        {"/search?count=12abc", "Value 12abc for 'count' of type int32 is in an incorrect format"},
    };
    for (const Row& row : rows) {
        ExpectRefused(row.target, row.error);
    }
}

TEST_F(RemotingDispatchError, RefusesArgumentsFromPlacesTheyMayNotComeFrom) {
    TestRequest request = Order(R"({"item":"tea"})", "application/json");
    request.target = "/orders?order=%7B%7D";
    ExpectRefused(request,
                  "Argument 'order' for 'PlaceOrder' was specified in an invalid location.");
    request = Order(R"({"item":"tea"})", "application/json");
    request.headers = {{"order", "{}"}};  // the header is not even looked at
    EXPECT_FALSE(exported_.Send(request).hasError);
}

TEST_F(RemotingDispatchError, RefusesBadBodiesWithoutCallingTheFunction) {
    struct Row {
        const char* contentType;
        std::string body;
        const char* error;
    };
    const Row rows[] = {
        {"application/json", "[1,", "Error: Invalid value. at offset 3."},
        {"application/x-msgpack", std::string("\x81\xA4item\xA3tea\xC0", 11),
         "Extra MessgePack data found in body"},
        {"text/x-yaml", "item: tea", "Unsupported body content type"},
        {"", "{}", "Unsupported body content type"},
        {"application/json", R"({"quantity":-1})",
         "Value -1 for 'quantity' of type uint32 is out of range"},
    };
    for (const Row& row : rows) {
        ExpectRefused(Order(row.body, row.contentType), row.error);
    }
}

TEST_F(RemotingDispatchError, RefusesHostArgumentsThatMatchNothing) {
    BindingProperty one;
    one.SetSigned(std::int64_t{1});
    TestRequest request;
    request.method = HttpMethod::Post;
    request.target = "/add/1";
    request.arguments = {{std::nullopt, one}, {std::nullopt, one}, {std::nullopt, one}};
    ExpectRefused(request, "Unknown argument '3' for 'Add'.");
    request.arguments = {{std::string("B"), one}};
    ExpectRefused(request, "Unknown argument 'B' for 'Add'.");
}

TEST_F(RemotingDispatchError, AnswersEveryRequestEvenWhenNothingServesIt) {
    ExpectRefused("/nowhere", "Invalid function", 404);
    TestRequest post;
    post.method = HttpMethod::Post;
    post.target = "/a.b";
    ExpectRefused(post, "Invalid function", 404);

    HostRequest request{};  // no dispatch context
    HostResponse response{};
    exported_.Block().functions[0].dispatch(&response, &request);
    EXPECT_EQ(exported_.Read(response).status, 404);
    exported_.Block().functions[0].dispatch(nullptr, &request);  // nothing to answer into
}

TEST_F(RemotingDispatchError, TurnsAnExceptionIntoAnInternalError) {
    const Reply reply = exported_.Send(HttpMethod::Get, "/throw");
    EXPECT_EQ(reply.error, "Unhandled exception: boom");
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(calls_, 1);
}

}  // namespace
}  // namespace Tavo::Testing
