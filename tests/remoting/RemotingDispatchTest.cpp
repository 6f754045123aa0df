#include <gtest/gtest.h>

#include <string>

#include "tests/remoting/RemotingTestSupport.h"
#include "tests/remoting/ShopApi.h"

namespace Tavo::Testing {
namespace {

class RemotingDispatch : public ::testing::Test {
protected:
    Reply Get(std::string target) const { return exported_.Send(HttpMethod::Get, target); }

    int calls_ = 0;
    RemotingApi api_;
    ExportedApi exported_{(DeclareShop(api_, calls_), api_)};
};

TEST_F(RemotingDispatch, TakesPathParametersFromTheTemplate) {
    const Reply reply = Get("/items/7/parts/a/b");
    EXPECT_FALSE(reply.hasError) << reply.error;
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.json, R"({"id":7,"rest":"a/b"})");
    EXPECT_EQ(Get("/items/7").error, "Invalid function");
}

TEST_F(RemotingDispatch, RoutesLiterallyAndDecodesCaptures) {
    struct Row {
        const char* target;
        const char* json;
    };
    const Row rows[] = {
        {"/a.b", R"("dotted")"},
        {"/x/special%41+b", R"("x:specialA b")"},
        {"/items/%37/parts/x+y", R"({"id":7,"rest":"x y"})"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.target);
        const Reply reply = Get(row.target);
        EXPECT_EQ(reply.error, "");
        EXPECT_EQ(reply.json, row.json);
    }
    EXPECT_EQ(Get("/axb").status, 404);
}

TEST_F(RemotingDispatch, ReadsQueryArgumentsIntoScalarsAndAddressedElements) {
    struct Row {
        const char* target;
        const char* json;
    };
    const Row rows[] = {
        {"/search?flag", R"({"count":0,"flag":true,"items":null})"},
        {"/search?flag=", R"({"count":0,"flag":true,"items":null})"},
        {"/search?flag=false&count=0x10", R"({"count":16,"flag":false,"items":null})"},
        {"/search", R"({"count":0,"flag":false,"items":null})"},
        {"/search?flag=1&count=2&count=3", R"({"count":3,"flag":true,"items":null})"},
        {"/search?items.2=5", R"({"count":0,"flag":false,"items":[null,null,"5"]})"},
        {"/search?items.x1=5", R"({"count":0,"flag":false,"items":{"x1":"5"}})"},
        {"/search?items.a.0x1=%7B%7D", R"({"count":0,"flag":false,"items":{"a":[null,"{}"]}})"},
        {"/search?items=%5B1,%7B%22k%22:2%7D%5D",
         R"({"count":0,"flag":false,"items":[1,{"k":2}]})"},
        {"/search?items=---%0Ak:+v", R"({"count":0,"flag":false,"items":{"k":"v"}})"},
        {"/search?items=%92%01%02", R"({"count":0,"flag":false,"items":[1,2]})"},
        {"/search?items=", R"({"count":0,"flag":false,"items":{}})"},
        {"/search?items.65535=1", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.target);
        const Reply reply = Get(row.target);
        EXPECT_EQ(reply.error, "");
        if (row.json != nullptr) {
            EXPECT_EQ(reply.json, row.json);
        }
    }
}

TEST_F(RemotingDispatch, FindsHeadersByTheLowerCasedArgumentName) {
    TestRequest request;
    request.method = HttpMethod::Post;
    request.target = "/orders";
    request.body = R"({"item":"tea","quantity":2})";
    request.contentType = "Application/JSON; charset=utf-8";
    request.headers = {{"userid", "ann"}};
    EXPECT_EQ(exported_.Send(request).json, R"({"item":"tea","notes":["by ann"],"quantity":2})");
    request.headers = {{"UserId", "ann"}};
    EXPECT_EQ(exported_.Send(request).json, R"({"item":"tea","notes":["by "],"quantity":2})");
}

TEST_F(RemotingDispatch, DecodesBodiesByContentType) {
    struct Row {
        const char* contentType;
        std::string body;
    };
    const Row rows[] = {
        {"application/json", R"({"item":"tea","quantity":2})"},
        {"application/vnd.api+json", R"({"item":"tea","quantity":2})"},
        {"application/x-yaml", "item: tea\nquantity: 2\n"},
        {"application/x-msgpack", "\x82\xA4item\xA3tea\xA8quantity\x02"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.contentType);
        TestRequest request;
        request.method = HttpMethod::Post;
        request.target = "/orders?userId=bo";
        request.body = row.body;
        request.contentType = row.contentType;
        const Reply reply = exported_.Send(request);
        EXPECT_EQ(reply.error, "");
        EXPECT_EQ(reply.json, R"({"item":"tea","notes":["by bo"],"quantity":2})");
    }
}

TEST_F(RemotingDispatch, PlacesPositionalHostArgumentsAfterThePathParameters) {
    BindingProperty two;
    two.SetSigned(std::int64_t{2});
    BindingProperty three;
    three.SetString("3");
    TestRequest request;
    request.method = HttpMethod::Post;
    request.target = "/add/1";
    request.arguments.emplace_back(std::nullopt, two);
    request.arguments.emplace_back(std::string("c"), three);
    EXPECT_EQ(exported_.Send(request).json, "123");
}

TEST_F(RemotingDispatch, ReportsAFailedResultWithItsStatus) {
    struct Row {
        const char* target;
        std::int32_t status;
    };
    const Row rows[] = {{"/fail/404", 404}, {"/fail/0", 500}, {"/fail/200", 500}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.target);
        const Reply reply = Get(row.target);
        EXPECT_TRUE(reply.hasError);
        EXPECT_EQ(reply.error, "It went wrong");
        EXPECT_EQ(reply.status, row.status);
    }
}

TEST_F(RemotingDispatch, HandsTheRequestRecordAndTakesTheResponseDescription) {
    TestRequest request;
    request.method = HttpMethod::Named;
    request.methodName = "ECHO";
    request.target = "/echo";
    request.headers = {{"a", "1"}, {"a", "2"}};
    const Reply reply = exported_.Send(request);
    EXPECT_EQ(reply.error, "");
    EXPECT_EQ(reply.status, 201);
    EXPECT_EQ(reply.json, "77");  // the host's context word
    EXPECT_EQ(reply.contentType, "text/plain");
    const std::vector<std::pair<std::string, std::string>> headers{
        {"x-path", "/echo"}, {"x-method", ""}, {"a", "2"}};
    EXPECT_EQ(reply.headers, headers);
}

}  // namespace
}  // namespace Tavo::Testing
