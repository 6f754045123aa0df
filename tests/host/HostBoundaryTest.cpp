// The development host's side of the boundary, in process: a stand-in plugin
// made of plain callbacks calls the ten entries the way a plugin does.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "DevHost.h"
#include "binding/HostValueConvert.h"
#include "formats/JsonWriter.h"

namespace {

using namespace Tavo;
using namespace Tavo::Host;
using Texts = std::vector<std::string>;

// What the stand-in plugin saw.
struct Seen {
    Texts events;  // "name context payload-json"
    Texts callbacks;
    DevHost* host = nullptr;
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
}

// OnCallback, then schedules "again" with no delay.
void ThenAgain(void* context) {
    OnCallback(context);
    HostInterface* table = seen.host->Connection()->host;
    table->hostScheduleCallback(table, "again", &OnCallback, const_cast<char*>("again"), 0, 0);
}

class HostBoundary : public ::testing::Test {
protected:
    void SetUp() override {
        seen = Seen{};
        seen.host = &host_;
    }
    ~HostBoundary() override { std::fclose(sink_); }

    HostInterface* Table() { return host_.Connection()->host; }

    // A request through entry 0; returns "status error-or-body-json" and
    // releases the response as a plugin must. (The LCDS simulator's answers
    // and the argument entries are checked end to end by the scenarios.)
    std::string Send(std::uint32_t method, const char* target) {
        HostRequest request{};
        request.method = method;
        request.target = target;
        HostResponse response{};
        Table()->hostSendRequest(Table(), &response, &request);
        const HostValue body = response.body;
        BindingResult value = PropertyFromHostValue(body, "<body>");
        const std::string text =
            std::to_string(response.status) + " " +
            (response.error != nullptr ? response.error : WriteJson(value.Value()));
        if (response.release != nullptr) {
            response.release(&response);
        }
        return text;
    }

    std::FILE* sink_ = std::tmpfile();
    Timeline timeline_{sink_, TimelineFormat::Text};
    DevHost host_{timeline_, 7};
};

TEST_F(HostBoundary, AnswersFromTheStoreAndRefusesWhatItCannotServe) {
    BindingProperty session;
    session.Field("accountId").SetUnsigned(std::uint64_t{9});
    host_.Resources().Set("/vex-login/v1/session", session);

    EXPECT_EQ(Send(2, "/vex-login/v1/session"), "200 {\"accountId\":9}");
    EXPECT_EQ(Send(2, "vex-login/v1/session?x=1"), "200 {\"accountId\":9}");
    EXPECT_EQ(Send(2, "/vex-login/v1/other"), "404 Not found: /vex-login/v1/other");
    EXPECT_EQ(Send(7, "/vex-login/v1/session"),
              "405 Method not allowed: PUT /vex-login/v1/session");
    EXPECT_EQ(Send(6, "/nowhere"), "404 No such endpoint: POST /nowhere");
    EXPECT_EQ(Send(6, "/vex-login/v1/session/invoke"),
              "400 Bad LCDS invocation: expected a destination, a method and an argument list");
    EXPECT_EQ(DevHost::UnreleasedResponses(), 0u);
}

TEST_F(HostBoundary, RaisesResourceChangesToTheSubscriberWithItsContext) {
    const char* name = "OnJsonApiEvent_vex-login_v1_session";
    Table()->hostSubscribe(Table(), name, 7, &OnEvent, const_cast<char*>("ctx"), 0);
    BindingProperty value;
    value.Field("state").SetString("SUCCEEDED");
    host_.SetResource("/vex-login/v1/session", value);
    host_.SetResource("/vex-login/v1/session", value);
    host_.SetResource("/vex-other/v1/x", value);  // nobody listens
    host_.DeleteResource("/vex-login/v1/session");
    host_.DeleteResource("/vex-login/v1/session");  // absent: no event

    const std::string event = std::string(name) + " ctx {\"data\":";
    const std::string uri = "\",\"uri\":\"/vex-login/v1/session\"}";
    EXPECT_EQ(seen.events, (Texts{event + "{\"state\":\"SUCCEEDED\"},\"eventType\":\"Create" + uri,
                                  event + "{\"state\":\"SUCCEEDED\"},\"eventType\":\"Update" + uri,
                                  event + "null,\"eventType\":\"Delete" + uri}));

    Table()->hostUnsubscribe(Table(), name, 7);
    host_.SetResource("/vex-login/v1/session", value);
    EXPECT_EQ(seen.events.size(), 3u);
    EXPECT_TRUE(host_.Subscriptions().empty());
}

TEST_F(HostBoundary, YieldRunsOnlyWhatWasAlreadyDue) {
    Table()->hostScheduleCallback(Table(), "now", &ThenAgain, const_cast<char*>("now"), 0, 0);
    Table()->hostScheduleCallback(Table(), "later", &OnCallback, const_cast<char*>("later"), 1, 0);
    Table()->hostYield(Table());
    EXPECT_EQ(seen.callbacks, Texts{"now"});

    // "again" is due at once (the clock only moved by the real time the
    // callback took); "later" one second after the start.
    EXPECT_TRUE(host_.RunNextDue(host_.Clock().Now()));
    EXPECT_FALSE(host_.RunNextDue(kNanosecondsPerSecond - 1));
    EXPECT_TRUE(host_.RunNextDue(kNanosecondsPerSecond));
    EXPECT_EQ(seen.callbacks, (Texts{"now", "again", "later"}));
    EXPECT_GE(host_.Clock().Now(), kNanosecondsPerSecond);
}

TEST_F(HostBoundary, DeliversNothingOnceDetached) {
    Table()->hostSubscribe(Table(), "OnJsonApiEvent_a", 7, &OnEvent, const_cast<char*>("c"), 0);
    Table()->hostScheduleCallback(Table(), "t", &OnCallback, const_cast<char*>("t"), 1, 0);
    EXPECT_EQ(host_.Detach(), 1u);
    Table()->hostScheduleCallback(Table(), "t", &OnCallback, const_cast<char*>("t"), 1, 0);
    host_.SetResource("/a", BindingProperty());
    EXPECT_FALSE(host_.RunNextDue(5 * kNanosecondsPerSecond));
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
    EXPECT_EQ(LogLevelName(logs[0].level) + " " + logs[0].message, "ERROR vex-heartbeat: broken");
    EXPECT_EQ(LogLevelName(logs[1].level) + " " + logs[1].message, "9 ");
}

}  // namespace
