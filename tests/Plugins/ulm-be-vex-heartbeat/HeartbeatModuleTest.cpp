// The heartbeat feature in process, against the framework's test host: the
// configuration number, the session rules, and the LCDS call's result rules.
// The timing of whole sessions is covered end to end by the host scenarios
// (tests/host/scenarios).

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Plugins/ulm-be-vex-heartbeat/HeartbeatModule.h"
#include "binding/HostValueConvert.h"
#include "formats/JsonReader.h"
#include "formats/JsonWriter.h"
#include "framework/PluginEntry.h"
#include "tests/framework/HostValues.h"
#include "tests/framework/TestHost.h"

namespace {

using namespace Tavo;
using namespace Tavo::Client;
using namespace Tavo::Client::Heartbeat;
using Tavo::Testing::OwnedHostValue;
using Tavo::Testing::TestHost;

BindingProperty Json(const char* text) {
    BindingResult parsed = ParseJson(text);
    EXPECT_TRUE(parsed.IsOk()) << parsed.ErrorMessage();
    return std::move(parsed.Value());
}

TEST(ReadConfiguredInteger, ReadsLenientlyAndKeepsTheLow32Bits) {
    struct Row {
        const char* json;
        std::int32_t expected;
    };
    const Row rows[] = {
        {"\"0x78\"", 120},
        {"\"90s\"", 90},
        {"90.9", 90},
        {"true", 1},
        {"false", 0},
        {"4294967396", 100},  // 2^32 + 100
        {"{\"seconds\": 90}", 0},
        {"[120]", 0},
        {"", 0},
        {"-5", -5},
        {"\"abc\"", 0},
        {"\"  120\"", 120},
        {"2147483648", -2147483648},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.json);
        EXPECT_EQ(ReadConfiguredInteger(Json(row.json)), row.expected);
    }
}

// A record and a nested one with LCDS class names, to exercise "__class".
struct Item {
    std::int32_t id = 0;
};
struct Basket {
    Item first;
    std::vector<Item> items;
    std::int32_t size = 0;
};

// The heartbeat module with two test types and their LCDS class names.
class ProbeHeartbeat : public HeartbeatModule {
public:
    void RegisterApiTypes() override {
        HeartbeatModule::RegisterApiTypes();
        DeclareStruct<Item>("Item").AddField("id", &Item::id);
        DeclareStruct<Basket>("Basket")
            .AddField("first", &Basket::first)
            .AddField("items", &Basket::items)
            .AddField("size", &Basket::size);
        RegisterLcdsClassName("Item", "lcds.Item");
        RegisterLcdsClassName("Basket", "lcds.Basket");
        if (expectStringType) {
            RegisterLcdsResponseTypeName<std::string>("java-ish.String");
        }
    }
    static inline bool expectStringType = false;
};

// A heartbeat module loaded and initialized against a TestHost whose
// resources and LCDS answers the test sets.
class Heartbeat : public ::testing::Test {
protected:
    void SetUp() override {
        ProbeHeartbeat::expectStringType = false;
        host.SetRequestHandler([this](HostResponse& response, const HostRequest& request) {
            Answer(response, request);
        });
    }
    void TearDown() override {
        if (handle_ != nullptr) {
            record_.callbacks->Shutdown(handle_);
        }
    }

    void Load() {
        record_.apiMajor = 18;
        handle_ = LoadPlugin<ProbeHeartbeat>(&record_, kShortName);
        ASSERT_NE(handle_, nullptr);
        ASSERT_TRUE(record_.callbacks->Initialize(handle_, host.Connection()));
    }
    ProbeHeartbeat& Module() {
        return *static_cast<ProbeHeartbeat*>(static_cast<AppModule*>(handle_));
    }

    // GET: the resource; POST of the LCDS path: `lcdsAnswer` (JSON of the
    // {"typeName", "body"} record) or, with `lcdsStatus`, an error.
    void Answer(HostResponse& response, const HostRequest& request) {
        const std::string target = request.target;
        if (request.method == 2) {
            const auto it = resources.find(target);
            if (it == resources.end()) {
                response.error = "Not found";
                response.hasError = 1;
                response.status = 404;
                return;
            }
            SetBody(response, it->second.c_str());
            return;
        }
        std::vector<std::string> arguments;
        for (std::uint32_t i = 0; i < request.argumentCount; ++i) {
            const HostValue value = request.arguments[i].value;
            BindingResult converted = PropertyFromHostValue(value, "<argument>");
            arguments.push_back(WriteJson(converted.Value()));
        }
        lcdsCalls.push_back(arguments);
        if (lcdsStatus != 0) {
            response.error = "LCDS down";
            response.hasError = 1;
            response.status = lcdsStatus;
            return;
        }
        SetBody(response, lcdsAnswer.c_str());
    }
    static void SetBody(HostResponse& response, const char* json) {
        OwnedHostValue value(json);
        response.body = value.Release();
        response.release = [](HostResponse* filled) {
            HostValue body = filled->body;
            ResetHostValue(body);
            filled->body = body;
        };
    }

    TestHost host;
    std::map<std::string, std::string> resources;
    std::string lcdsAnswer = R"({"typeName": "string", "body": "ok"})";
    std::int32_t lcdsStatus = 0;
    std::vector<std::vector<std::string>> lcdsCalls;

private:
    PluginLoadRecord record_{};
    void* handle_ = nullptr;
};

TEST_F(Heartbeat, LcdsCallYieldsTheTextOrAFailureByTheAnswer) {
    Load();
    struct Row {
        const char* name;
        std::string answer;
        std::int32_t status;
        bool ok;
        std::string value;  // the text, or the failure's message ("(none)" for none)
        std::int32_t code;
    };
    const std::vector<Row> rows = {
        {"text", R"({"typeName": "string", "body": "5"})", 0, true, "5", 0},
        {"nothing", R"({"typeName": "", "body": null})", 0, false, "(none)", 0},
        {"no body at all", R"({"typeName": "string"})", 0, false, "(none)", 0},
        {"wrong type", R"({"typeName": "list", "body": [1, 2]})", 0, false,
         "Couldn't convert LCDS DTO " + std::string(StaticType::Named<std::string>().name) +
             " to C++ from [1,2]",
         0},
        {"error response", "", 503, false,
         "Error response for POST /vex-login/v1/session/invoke: LCDS down", 503},
        {"not a response record", R"([1])", 0, false,
         "Error converting response for POST /vex-login/v1/session/invoke: ", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        lcdsAnswer = row.answer;
        lcdsStatus = row.status;
        const Maybe<std::string> result =
            Module().CallLcds<std::string>("loginService", "performLCDSHeartBeat");
        ASSERT_EQ(result.HasValue(), row.ok);
        if (row.ok) {
            EXPECT_EQ(result.Value(), row.value);
            continue;
        }
        const char* message = result.Error().Message();
        const std::string text = message != nullptr ? message : "(none)";
        EXPECT_EQ(text.substr(0, row.value.size()), row.value);
        EXPECT_EQ(result.Error().Code(), row.code);
    }
    // The future was ready at once: no wait was announced to the host.
    EXPECT_EQ(host.CountOf(Tavo::Testing::HostEntry::BeginWait), 0u);
}

TEST_F(Heartbeat, LcdsResultMustCarryTheRegisteredTypeName) {
    ProbeHeartbeat::expectStringType = true;
    Load();
    lcdsAnswer = R"({"typeName": "int", "body": "5"})";
    Maybe<std::string> result = Module().CallLcds<std::string>("svc", "m");
    ASSERT_FALSE(result.HasValue());
    EXPECT_STREQ(result.Error().Message(),
                 "Expected 'java-ish.String' as LCDS response for svc.m, but got 'int'");

    lcdsAnswer = R"({"typeName": "java-ish.String", "body": "5"})";
    result = Module().CallLcds<std::string>("svc", "m");
    ASSERT_TRUE(result.HasValue());
    EXPECT_EQ(result.Value(), "5");
}

TEST_F(Heartbeat, LcdsArgumentsKeepOrderAndCarryClassNames) {
    Load();
    Basket basket;
    basket.first.id = 1;
    basket.items = {Item{2}, Item{3}};
    const std::map<std::string, Item> byName = {{"a", Item{4}}};
    const Maybe<std::vector<BindingProperty>> arguments =
        Module().ToLcdsArguments(std::uint64_t{9}, static_cast<const char*>(""), std::int32_t{1},
                                 basket, byName, std::vector<Item>{Item{5}});
    ASSERT_TRUE(arguments.HasValue());
    std::vector<std::string> json;
    for (const BindingProperty& argument : arguments.Value()) {
        json.push_back(WriteJson(argument));
    }
    EXPECT_EQ(json,
              (std::vector<std::string>{
                  "9",
                  "\"\"",  // a string value, not an empty one
                  "1",
                  R"({"__class":"lcds.Basket","first":{"__class":"lcds.Item","id":1},)"
                  R"("items":[{"__class":"lcds.Item","id":2},{"__class":"lcds.Item","id":3}],)"
                  R"("size":0})",
                  R"({"a":{"__class":"lcds.Item","id":4}})",
                  R"([{"__class":"lcds.Item","id":5}])",
              }));
    EXPECT_EQ(arguments.Value()[1].GetKind(), BindingProperty::Kind::String);
}

TEST_F(Heartbeat, SendsTheCapturedAccountOnlyWhileTheSessionIsUsable) {
    resources["/vex-login/v1/session"] =
        R"({"state": "SUCCEEDED", "summonerId": 7, "accountId": 9, "extra": [1]})";
    Load();
    EXPECT_TRUE(Module().SessionActive());
    EXPECT_EQ(Module().AccountId(), 9u);

    Module().SendHeartbeat();
    ASSERT_EQ(lcdsCalls.size(), 1u);
    ASSERT_EQ(lcdsCalls[0].size(), 3u);
    EXPECT_EQ(lcdsCalls[0][0], "\"loginService\"");
    EXPECT_EQ(lcdsCalls[0][1], "\"performLCDSHeartBeat\"");
    // [9, "", 1, "YYYY-MM-DDTHH:MM:SSZ"]
    const BindingProperty sent = Json(lcdsCalls[0][2].c_str());
    EXPECT_EQ(sent.Size(), 4u);
    EXPECT_EQ(sent.ElementAt(0).GetUnsigned(), 9u);
    EXPECT_EQ(sent.ElementAt(1).GetString(), "");
    EXPECT_EQ(sent.ElementAt(2).GetUnsigned(), 1u);
    const std::string timestamp(sent.ElementAt(3).GetString());
    EXPECT_EQ(timestamp.size(), 20u) << timestamp;
    EXPECT_EQ(timestamp.back(), 'Z');

    // Another id while usable changes nothing; unusable stops the heartbeats.
    const OwnedHostValue other(R"({"uri": "/vex-login/v1/session", "eventType": "Update",)"
                               R"( "data": {"state": 1, "summonerId": 7, "accountId": 10}})");
    ASSERT_TRUE(host.Deliver("OnJsonApiEvent_vex-login_v1_session", other.Get()));
    EXPECT_EQ(Module().AccountId(), 9u);
    const OwnedHostValue noSummoner(R"({"uri": "/vex-login/v1/session", "eventType": "Update",)"
                                    R"( "data": {"state": "SUCCEEDED", "accountId": 10}})");
    ASSERT_TRUE(host.Deliver("OnJsonApiEvent_vex-login_v1_session", noSummoner.Get()));
    EXPECT_FALSE(Module().SessionActive());
    EXPECT_EQ(Module().AccountId(), 9u);  // kept until the next activation
    Module().SendHeartbeat();
    EXPECT_EQ(lcdsCalls.size(), 1u);
    EXPECT_EQ(Module().HeartbeatCount(), 1);

    // A session that does not convert is ignored entirely.
    const OwnedHostValue broken(
        R"({"uri": "/vex-login/v1/session", "eventType": "Update",)"
        R"( "data": {"state": "DANCING", "summonerId": 7, "accountId": 11}})");
    ASSERT_TRUE(host.Deliver("OnJsonApiEvent_vex-login_v1_session", broken.Get()));
    EXPECT_FALSE(Module().SessionActive());

    const OwnedHostValue gone(
        R"({"uri": "/vex-login/v1/session", "eventType": "Delete", "data": "not a session"})");
    ASSERT_TRUE(host.Deliver("OnJsonApiEvent_vex-login_v1_session", gone.Get()));
    EXPECT_EQ(Module().AccountId(), 0u);
}

TEST_F(Heartbeat, LogsAFailedHeartbeatOnceAndStillCountsIt) {
    resources["/vex-login/v1/session"] =
        R"({"state": "SUCCEEDED", "summonerId": 7, "accountId": 9})";
    Load();
    host.ClearCalls();
    lcdsAnswer = R"({"typeName": "", "body": null})";
    Module().SendHeartbeat();
    lcdsAnswer = R"({"typeName": "string", "body": "ok"})";
    lcdsStatus = 503;
    Module().SendHeartbeat();
    lcdsStatus = 0;
    Module().SendHeartbeat();

    EXPECT_EQ(Module().HeartbeatCount(), 3);
    const std::vector<TestHost::LogLine> logs = host.Logs();
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_EQ(logs[0].level, 2);
    EXPECT_EQ(logs[0].message, "vex-heartbeat: (null)");
    EXPECT_EQ(logs[1].message,
              "vex-heartbeat: Error response for POST /vex-login/v1/session/invoke: LCDS down");
}

}  // namespace
