// The heartbeat feature in process, against the framework's test host: the
// configuration number, the LCDS call and what one heartbeat sends. The
// session rules over time run end to end as host scenarios (tests/host).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "HeartbeatModule.h"
#include "formats/JsonReader.h"
#include "formats/JsonWriter.h"
#include "tests/framework/ModuleFixture.h"

namespace {

using namespace Tavo;
using namespace Tavo::Client;
using namespace Tavo::Client::Heartbeat;
using Tavo::Testing::HostEntry;
using ::testing::ElementsAre;

// The heartbeat's LCDS arguments: account 9, the empty text, `count` and a
// UTC time stamp "YYYY-MM-DDTHH:MM:SSZ" (checked by shape, as it is now).
MATCHER_P(HeartbeatArguments, count, "[9,\"\"," + std::to_string(count) + ",\"<UTC time>\"]") {
    const std::string head = "[9,\"\"," + std::to_string(count) + ",\"";
    const std::string text = arg;
    constexpr std::string_view kShape = "0000-00-00T00:00:00Z";
    if (text.size() != head.size() + kShape.size() + 2 || text.compare(0, head.size(), head) != 0 ||
        text.compare(text.size() - 2, 2, "\"]") != 0) {
        return false;
    }
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        const char c = text[head.size() + i];
        if (kShape[i] == '0' ? (c < '0' || c > '9') : c != kShape[i]) {
            return false;
        }
    }
    return true;
}

BindingProperty Json(const char* text) {
    BindingResult parsed = ParseJson(text);
    EXPECT_TRUE(parsed.IsOk()) << parsed.ErrorMessage();
    return std::move(parsed.Value());
}

TEST(ReadConfiguredInteger, ReadsLenientlyAndKeepsTheLow32Bits) {
    // 4294967396 is 2^32 + 100.
    const std::pair<const char*, std::int32_t> rows[] = {{"\"0x78\"", 120},
                                                         {"\"90s\"", 90},
                                                         {"90.9", 90},
                                                         {"true", 1},
                                                         {"false", 0},
                                                         {"4294967396", 100},
                                                         {"2147483648", -2147483648},
                                                         {"-5", -5},
                                                         {"\"  120\"", 120},
                                                         {"\"abc\"", 0},
                                                         {"{\"seconds\": 90}", 0},
                                                         {"[120]", 0},
                                                         {"", 0}};
    for (const auto& [json, expected] : rows) {
        SCOPED_TRACE(json);
        EXPECT_EQ(ReadConfiguredInteger(Json(json)), expected);
    }
}

// Records with LCDS class names, to exercise "__class"; an answer converted
// into an Item must carry the type name "lcds.Item".
struct Item {
    std::int32_t id = 0;
};
struct Basket {
    Item first;
    std::vector<Item> items;
    std::int32_t size = 0;
};

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
        RegisterLcdsResponseTypeName<Item>("lcds.Item");
    }
};

// A started heartbeat module. The host's session is usable, for account 9;
// other GETs fail with 404. The LCDS call is answered with `lcdsAnswer` (the
// {"typeName", "body"} record as JSON) or, when `lcdsStatus` is set, refused.
class Heartbeat : public ::testing::Test {
protected:
    void SetUp() override {
        loaded.host.SetRequestHandler([this](HostResponse& response, const HostRequest& request) {
            const std::string target = request.target;
            const bool session = target == kSessionPath;
            const std::int32_t status = session ? 0 : request.method == 2 ? 404 : lcdsStatus;
            if (status != 0) {
                response.error = "Refused";
                response.hasError = 1;
                response.status = status;
                return;
            }
            Testing::SetResponseBody(response, session ? R"({"state": "SUCCEEDED", )"
                                                         R"("summonerId": 7, "accountId": 9})"
                                                       : lcdsAnswer.c_str());
        });
        ASSERT_TRUE(loaded.Initialize());
    }
    // The arguments of each LCDS call, as JSON.
    std::vector<std::vector<std::string>> LcdsCalls() const {
        std::vector<std::vector<std::string>> calls;
        for (const Testing::HostCall& call : loaded.host.CallsTo(HostEntry::SendRequest)) {
            if (call.method == 6) {  // POST: the LCDS call
                calls.push_back(call.arguments);
            }
        }
        return calls;
    }

    Testing::LoadedPlugin<ProbeHeartbeat> loaded{kShortName};
    std::string lcdsAnswer = R"({"typeName": "string", "body": "ok"})";
    std::int32_t lcdsStatus = 0;
};

TEST_F(Heartbeat, LcdsCallYieldsTheResultOrAFailureByTheAnswer) {
    const std::string invoke = "POST /vex-login/v1/session/invoke: ";
    struct Row {
        const char* name;
        std::string answer;
        std::int32_t status;
        bool ok;
        std::string value;  // the text, or the start of the failure's message ("(none)": none)
        std::int32_t code;
    };
    const Row rows[] = {
        {"text", R"({"typeName": "string", "body": "5"})", 0, true, "5", 0},
        {"nothing", R"({"typeName": "", "body": null})", 0, false, "(none)", 0},
        {"no body at all", R"({"typeName": "string"})", 0, false, "(none)", 0},
        {"wrong type", R"({"typeName": "list", "body": [1, 2]})", 0, false,
         "Couldn't convert LCDS DTO std::string to C++ from [1,2]", 0},
        {"error response", "", 503, false, "Error response for " + invoke + "Refused", 503},
        {"not a response record", R"([1])", 0, false, "Error converting response for " + invoke, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        lcdsAnswer = row.answer;
        lcdsStatus = row.status;
        const Maybe<std::string> result =
            loaded->CallLcds<std::string>("loginService", "performLCDSHeartBeat");
        ASSERT_EQ(result.HasValue(), row.ok);
        if (row.ok) {
            EXPECT_EQ(result.Value(), row.value);
            continue;
        }
        const char* message = result.Error().Message();
        EXPECT_THAT(message != nullptr ? message : "(none)", ::testing::StartsWith(row.value));
        EXPECT_EQ(result.Error().Code(), row.code);
    }
    // The future was ready at once: no wait was announced to the host.
    EXPECT_EQ(loaded.host.CountOf(HostEntry::BeginWait), 0u);
}

TEST_F(Heartbeat, LcdsResultMustCarryTheRegisteredTypeName) {
    lcdsAnswer = R"({"typeName": "Item", "body": {"id": 5}})";
    Maybe<Item> result = loaded->CallLcds<Item>("svc", "m");
    ASSERT_FALSE(result.HasValue());
    EXPECT_STREQ(result.Error().Message(),
                 "Expected 'lcds.Item' as LCDS response for svc.m, but got 'Item'");
    lcdsAnswer = R"({"typeName": "lcds.Item", "body": {"id": 5}})";
    result = loaded->CallLcds<Item>("svc", "m");
    ASSERT_TRUE(result.HasValue());
    EXPECT_EQ(result.Value().id, 5);
}

TEST_F(Heartbeat, LcdsArgumentsKeepOrderAndCarryClassNames) {
    Basket basket;
    basket.first.id = 1;
    basket.items = {Item{2}, Item{3}};
    const std::map<std::string, Item> byName = {{"a", Item{4}}};
    const Maybe<std::vector<BindingProperty>> arguments =
        loaded->ToLcdsArguments(std::uint64_t{9}, static_cast<const char*>(""), std::int32_t{1},
                                basket, byName, std::vector<Item>{Item{5}});
    ASSERT_TRUE(arguments.HasValue());
    std::vector<std::string> json;
    for (const BindingProperty& argument : arguments.Value()) {
        json.push_back(WriteJson(argument));
    }
    EXPECT_THAT(json,
                ElementsAre("9", "\"\"", "1",
                            R"({"__class":"lcds.Basket","first":{"__class":"lcds.Item","id":1},)"
                            R"("items":[{"__class":"lcds.Item","id":2},)"
                            R"({"__class":"lcds.Item","id":3}],"size":0})",
                            R"({"a":{"__class":"lcds.Item","id":4}})",
                            R"([{"__class":"lcds.Item","id":5}])"));
}

TEST_F(Heartbeat, SendsWhileTheSessionIsUsableAndLogsEachFailureAtError) {
    const auto update = [this](const char* data) {
        const Testing::OwnedHostValue event(
            (std::string(R"({"uri": "/vex-login/v1/session", "eventType": "Update", "data": )") +
             data + "}")
                .c_str());
        ASSERT_TRUE(loaded.host.Deliver("OnJsonApiEvent_vex-login_v1_session", event.Get()));
    };
    update(R"({"state": "DANCING", "summonerId": 7, "accountId": 11})");  // ignored: no session
    loaded->SendHeartbeat();
    lcdsAnswer = R"({"typeName": "", "body": null})";  // a failure without a message
    loaded->SendHeartbeat();
    lcdsStatus = 503;
    loaded->SendHeartbeat();
    update(R"({"state": "SUCCEEDED", "accountId": 9})");  // no summoner: not usable
    loaded->SendHeartbeat();

    EXPECT_EQ(loaded->HeartbeatCount(), 3);  // failed ones too
    const auto call = [](int count) {
        return ElementsAre("\"loginService\"", "\"performLCDSHeartBeat\"",
                           HeartbeatArguments(count));
    };
    EXPECT_THAT(LcdsCalls(), ElementsAre(call(1), call(2), call(3)));
    EXPECT_THAT(loaded.host.Trace(HostEntry::Log),
                ElementsAre("hostLog 2 'vex-heartbeat: (null)'",
                            "hostLog 2 'vex-heartbeat: Error response for POST "
                            "/vex-login/v1/session/invoke: Refused'"));
}

// Only a value that becomes the period restarts the timer; values of 60 or
// less, unreadable ones, deletions and the period itself leave it running.
TEST_F(Heartbeat, ARateRestartsTheTimerOnlyWhenItChangesThePeriod) {
    struct Row {
        const char* eventType;
        const char* data;
        std::int32_t period;
        bool restarted;
    };
    const Row rows[] = {
        {"Update", "60", 60, false},         // the period already
        {"Update", "30", 60, false},         // never taken
        {"Update", "30", 60, false},         // repeated: still nothing
        {"Update", "120", 120, true},        // taken
        {"Update", "30", 120, false},        // not taken once raised either
        {"Update", "\"0x78\"", 120, false},  // the period, as text
        {"Delete", "null", 120, false},      // reads as 0
        {"Update", "{}", 120, false},        // unreadable: 0
        {"Create", "61", 61, true},         {"Update", "90.9", 90, true},
    };
    const char* event =
        "OnJsonApiEvent_vex-platform-config_v1_namespaces_ClientSystemStates_"
        "clientHeartBeatRateSeconds";
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.eventType) + " " + row.data);
        const std::size_t scheduled = loaded.host.CountOf(HostEntry::ScheduleCallback);
        const Testing::OwnedHostValue payload((std::string(R"({"uri": ")") + kRatePath +
                                               R"(", "eventType": ")" + row.eventType +
                                               R"(", "data": )" + row.data + "}")
                                                  .c_str());
        ASSERT_TRUE(loaded.host.Deliver(event, payload.Get()));
        EXPECT_EQ(loaded->HeartbeatRateSeconds(), row.period);
        EXPECT_EQ(loaded.host.CountOf(HostEntry::ScheduleCallback) - scheduled,
                  row.restarted ? 1u : 0u);
    }
}

}  // namespace
