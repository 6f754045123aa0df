#pragma once
// Host values for tests that play the host: built from JSON text, owned by
// the test and released when it goes.

#include <gtest/gtest.h>

#include "binding/HostValueConvert.h"
#include "formats/JsonReader.h"

namespace Tavo::Testing {

class OwnedHostValue {
public:
    // The JSON document `json` as a host value (null for an empty document).
    explicit OwnedHostValue(const char* json) {
        BindingResult parsed = ParseJson(json);
        EXPECT_TRUE(parsed.IsOk()) << parsed.ErrorMessage();
        EXPECT_TRUE(HostValueFromProperty(value_, parsed.Value(), nullptr));
    }
    // A record as it stands, taken over (for foreign type codes).
    explicit OwnedHostValue(const HostValue& value) : value_(value) {}
    ~OwnedHostValue() { ResetHostValue(value_); }
    OwnedHostValue(const OwnedHostValue&) = delete;
    OwnedHostValue& operator=(const OwnedHostValue&) = delete;

    const HostValue& Get() const { return value_; }
    // Hands the value over (to a response the test fills); this one is null after.
    HostValue Release() {
        const HostValue value = value_;
        value_ = HostValue{};
        return value;
    }

private:
    HostValue value_{};
};

}  // namespace Tavo::Testing
