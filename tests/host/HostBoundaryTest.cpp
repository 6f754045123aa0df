// The development host's side of the boundary, in process: a stand-in plugin
// made of plain callbacks calls the ten entries the way a plugin does.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "binding/HostValueConvert.h"
#include "formats/JsonWriter.h"
#include "host/DevHost.h"

namespace {

using namespace Tavo;
using namespace Tavo::Host;

// What the stand-in plugin saw.
struct Seen {
    std::vector<std::string> events;  // "name context payload-json"
    std::vector<std::string> callbacks;
    DevHost* host = nullptr;
    // Scheduled from inside a callback, with this delay, when >= 0.
    double rescheduleDelay = -1;
};
Seen seen;

void OnEvent(HostEvent* event) {
    BindingResult payload = PropertyFromHostValue(event->payload, "<payload>");
    seen.events.push_back(std::string(event->name) + " " +
                          static_cast<const char*>(event->context) + " " +
                          WriteJson(payload.Value()));
}

void OnCallback(void* context) {
    seen.callbacks.push_back(static_cast<const char*>(context));
    if (seen.rescheduleDelay >= 0) {
        HostInterface* table = seen.host->Connection()->host;
        table->hostScheduleCallback(table, "again", &OnCallback, const_cast<char*>("again"),
                                    seen.rescheduleDelay, 0);
        seen.rescheduleDelay = -1;
    }
}

class HostBoundary : public ::testing::Test {
protected:
    void SetUp() override {
        seen = Seen{};
        seen.host = &host_;
    }
    ~HostBoundary() override { std::fclose(sink_); }

    HostInterface* Table() { return host_.Connection()->host; }

    // GET or POST through entry 0; returns "status error-or-body-json" and
    // releases the response as a plugin must.
    std::string Send(std::uint32_t method, const char* target,
                     std::vector<BindingProperty> arguments = {}) {
        std::vector<HostRequestArgument> entries(arguments.size());
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            entries[i].name = nullptr;
            EXPECT_TRUE(HostValueFromProperty(entries[i].value, arguments[i], nullptr));
        }
        HostRequest request{};
        request.method = method;
        request.target = target;
        request.arguments = entries.empty() ? nullptr : entries.data();
        request.argumentCount = static_cast<std::uint32_t>(entries.size());
        HostResponse response{};
        Table()->hostSendRequest(Table(), &response, &request);
        std::string text = std::to_string(response.status) + " ";
        if (response.error != nullptr) {
            text += response.error;
        } else {
            const HostValue body = response.body;
            BindingResult value = PropertyFromHostValue(body, "<body>");
            text += value.Value().IsEmpty() ? "null" : WriteJson(value.Value());
        }
        if (response.release != nullptr) {
            response.release(&response);
        }
        for (HostRequestArgument& entry : entries) {
            ResetHostValue(entry.value);
        }
        return text;
    }

    std::FILE* sink_ = std::tmpfile();
    Timeline timeline_{sink_, TimelineFormat::Text};
    DevHost host_{timeline_, 7};
};

TEST_F(HostBoundary, AnswersGetsFromTheStoreAndRefusesWhatItCannotServe) {
    BindingProperty session;
    session.Field("accountId").SetUnsigned(std::uint64_t{9});
    host_.Resources().Set("/vex-login/v1/session", session);

    EXPECT_EQ(Send(2, "/vex-login/v1/session"), "200 {\"accountId\":9}");
    EXPECT_EQ(Send(2, "vex-login/v1/session?x=1"), "200 {\"accountId\":9}");
    EXPECT_EQ(Send(2, "/vex-login/v1/other"), "404 Not found: /vex-login/v1/other");
    EXPECT_EQ(Send(7, "/vex-login/v1/session"),
              "405 Method not allowed: PUT /vex-login/v1/session");
    EXPECT_EQ(Send(6, "/nowhere"), "404 No such endpoint: POST /nowhere");
    EXPECT_EQ(DevHost::UnreleasedResponses(), 0u);
}

TEST_F(HostBoundary, AnswersLcdsCallsAsTheSimulatorIsTold) {
    BindingProperty destination, method, arguments;
    destination.SetString("loginService");
    method.SetString("performLCDSHeartBeat");
    arguments.Append().SetUnsigned(std::uint64_t{9});
    arguments.Append().SetString("");
    const std::vector<BindingProperty> call = {destination, method, arguments};

    EXPECT_EQ(Send(6, "/vex-login/v1/session/invoke", call),
              "200 {\"body\":\"ok\",\"typeName\":\"string\"}");

    LcdsBehaviour nothing;
    nothing.mode = LcdsBehaviour::Mode::Nothing;
    host_.Lcds().SetBehaviour(nothing);
    EXPECT_EQ(Send(6, "/vex-login/v1/session/invoke", call),
              "200 {\"body\":null,\"typeName\":\"\"}");

    LcdsBehaviour failing;
    failing.mode = LcdsBehaviour::Mode::Error;
    failing.status = 503;
    failing.message = "down";
    host_.Lcds().SetBehaviour(failing);
    EXPECT_EQ(Send(6, "/vex-login/v1/session/invoke", call),
              "503 LCDS loginService.performLCDSHeartBeat failed: down");

    EXPECT_EQ(Send(6, "/vex-login/v1/session/invoke", {destination}),
              "400 Bad LCDS invocation: expected a destination, a method and an argument list");

    ASSERT_EQ(host_.LcdsCalls().size(), 3u);
    EXPECT_TRUE(host_.LcdsCalls()[0].ok);
    EXPECT_FALSE(host_.LcdsCalls()[1].ok);  // nothing counts as a failure
    EXPECT_FALSE(host_.LcdsCalls()[2].ok);
    EXPECT_EQ(WriteJson(host_.LcdsCalls()[0].arguments), "[9,\"\"]");
}

TEST_F(HostBoundary, RaisesResourceChangesToTheSubscriberWithItsContext) {
    Table()->hostSubscribe(Table(), "OnJsonApiEvent_vex-login_v1_session", 7, &OnEvent,
                           const_cast<char*>("ctx"), 0);
    BindingProperty value;
    value.Field("state").SetString("SUCCEEDED");
    host_.SetResource("/vex-login/v1/session", value);
    host_.SetResource("/vex-login/v1/session", value);
    host_.SetResource("/vex-other/v1/x", value);  // nobody listens
    host_.DeleteResource("/vex-login/v1/session");
    host_.DeleteResource("/vex-login/v1/session");  // absent: no event

    const std::string name = "OnJsonApiEvent_vex-login_v1_session ctx ";
    const std::string data = "{\"state\":\"SUCCEEDED\"}";
    EXPECT_EQ(
        seen.events,
        (std::vector<std::string>{
            name + "{\"data\":" + data +
                ",\"eventType\":\"Create\",\"uri\":\"/vex-login/v1/session\"}",
            name + "{\"data\":" + data +
                ",\"eventType\":\"Update\",\"uri\":\"/vex-login/v1/session\"}",
            name + "{\"data\":null,\"eventType\":\"Delete\",\"uri\":\"/vex-login/v1/session\"}",
        }));

    Table()->hostUnsubscribe(Table(), "OnJsonApiEvent_vex-login_v1_session", 7);
    host_.SetResource("/vex-login/v1/session", value);
    EXPECT_EQ(seen.events.size(), 3u);
    EXPECT_TRUE(host_.Subscriptions().empty());
}

TEST_F(HostBoundary, YieldRunsOnlyWhatWasAlreadyDue) {
    Table()->hostScheduleCallback(Table(), "now", &OnCallback, const_cast<char*>("now"), 0, 0);
    Table()->hostScheduleCallback(Table(), "later", &OnCallback, const_cast<char*>("later"), 1, 0);
    seen.rescheduleDelay = 0;  // "now" schedules "again" with no delay
    Table()->hostYield(Table());
    EXPECT_EQ(seen.callbacks, (std::vector<std::string>{"now"}));

    EXPECT_TRUE(host_.RunNextDue(0));  // "again", due now
    EXPECT_FALSE(host_.RunNextDue(999));
    EXPECT_TRUE(host_.RunNextDue(1000));
    EXPECT_EQ(seen.callbacks, (std::vector<std::string>{"now", "again", "later"}));
    EXPECT_EQ(host_.Clock().Now(), 1000);
}

TEST_F(HostBoundary, DeliversNothingOnceDetached) {
    Table()->hostSubscribe(Table(), "OnJsonApiEvent_a", 7, &OnEvent, const_cast<char*>("c"), 0);
    Table()->hostScheduleCallback(Table(), "t", &OnCallback, const_cast<char*>("t"), 1, 0);
    EXPECT_EQ(host_.Detach(), 1u);
    Table()->hostScheduleCallback(Table(), "t", &OnCallback, const_cast<char*>("t"), 1, 0);
    host_.SetResource("/a", BindingProperty());
    EXPECT_FALSE(host_.RunNextDue(5000));
    EXPECT_TRUE(seen.events.empty());
    EXPECT_TRUE(seen.callbacks.empty());
}

TEST_F(HostBoundary, RecordsLogLinesAndWaits) {
    Table()->hostLog(Table(), 2, "vex-heartbeat: broken");
    Table()->hostLog(Table(), 9, nullptr);
    Table()->hostBeginWait(Table(), "Wait: yield", 0);
    EXPECT_EQ(host_.WaitDepth(), 1);
    Table()->hostEndWait(Table());
    EXPECT_EQ(host_.WaitDepth(), 0);
    EXPECT_EQ(Table()->reserved1(Table(), 1, 2), 0u);
    EXPECT_EQ(Table()->reserved2(Table(), 3), 0u);

    const std::vector<HostLogLine> logs = host_.Logs();
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_EQ(logs[0].level, 2);
    EXPECT_EQ(logs[0].message, "vex-heartbeat: broken");
    EXPECT_EQ(LogLevelName(logs[0].level), "ERROR");
    EXPECT_EQ(LogLevelName(logs[1].level), "9");
    EXPECT_EQ(logs[1].message, "");
}

}  // namespace
