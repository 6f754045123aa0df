#pragma once
// Native types shared by the binding tests: a session record like the
// feature's, and a struct holding one field of every bindable kind.

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingRegistry.h"

namespace Tavo::Testing {

enum SessionState : std::int32_t {
    IN_PROGRESS = 0,
    SUCCEEDED = 1,
    LOGGING_OUT = 2,
    ERROR = 3,
};

struct Session {
    SessionState state = IN_PROGRESS;
    std::uint64_t summonerId = 0;
    std::uint64_t accountId = 0;
    bool operator==(const Session&) const = default;
};

inline void RegisterSession(BindingRegistry& registry) {
    registry.DeclareEnum<SessionState>("LoginSessionStates")
        .AddValue("IN_PROGRESS", 0)
        .AddValue("ERROR", 3)
        .AddValue("SUCCEEDED", 1)
        .AddValue("LOGGING_OUT", 2);
    registry.DeclareStruct<Session>("LoginSession")
        .AddField("state", &Session::state)
        .AddField("summonerId", &Session::summonerId)
        .AddField("accountId", &Session::accountId);
}

enum class Tiny : std::uint8_t { Zero = 0, Big = 200 };
enum class Short : std::int16_t { Minus = -2, Plus = 2 };
enum class Wide : std::int64_t { One = 1, Low = -7 };

struct Inner {
    std::int32_t number = 0;
    std::string label;
    bool operator==(const Inner&) const = default;
};

struct AllKinds {
    bool flag = false;
    std::int8_t i8 = 0;
    std::uint8_t u8 = 0;
    std::int16_t i16 = 0;
    std::uint16_t u16 = 0;
    std::int32_t i32 = 0;
    std::uint32_t u32 = 0;
    std::int64_t i64 = 0;
    std::uint64_t u64 = 0;
    float f32 = 0.0f;
    double f64 = 0.0;
    std::string text;
    BindingProperty object;
    std::vector<std::uint8_t> blob;
    std::vector<std::int32_t> numbers;
    std::vector<bool> flags;
    std::vector<std::string> texts;
    std::vector<Inner> inners;
    std::vector<std::vector<std::uint16_t>> grid;
    std::map<std::string, std::int64_t> counts;
    std::unordered_map<std::string, Inner> named;
    SessionState state = IN_PROGRESS;
    Tiny tiny = Tiny::Zero;
    Short shortEnum = Short::Plus;
    Wide wide = Wide::One;
    Inner inner;
    bool operator==(const AllKinds&) const = default;
};

inline void RegisterAllKinds(BindingRegistry& registry) {
    RegisterSession(registry);
    registry.DeclareEnum<Tiny>("Tiny").AddValue("Zero", Tiny::Zero).AddValue("Big", Tiny::Big);
    registry.DeclareEnum<Short>("Short")
        .AddValue("Minus", Short::Minus)
        .AddValue("Plus", Short::Plus);
    registry.DeclareEnum<Wide>("Wide").AddValue("One", Wide::One).AddValue("Low", Wide::Low);
    registry.DeclareStruct<Inner>("Inner")
        .AddField("number", &Inner::number)
        .AddField("label", &Inner::label);
    registry.DeclareStruct<AllKinds>("AllKinds")
        .AddField("flag", &AllKinds::flag)
        .AddField("i8", &AllKinds::i8)
        .AddField("u8", &AllKinds::u8)
        .AddField("i16", &AllKinds::i16)
        .AddField("u16", &AllKinds::u16)
        .AddField("i32", &AllKinds::i32)
        .AddField("u32", &AllKinds::u32)
        .AddField("i64", &AllKinds::i64)
        .AddField("u64", &AllKinds::u64)
        .AddField("f32", &AllKinds::f32)
        .AddField("f64", &AllKinds::f64)
        .AddField("text", &AllKinds::text)
        .AddField("object", &AllKinds::object)
        .AddField("blob", &AllKinds::blob)
        .AddField("numbers", &AllKinds::numbers)
        .AddField("flags", &AllKinds::flags)
        .AddField("texts", &AllKinds::texts)
        .AddField("inners", &AllKinds::inners)
        .AddField("grid", &AllKinds::grid)
        .AddField("counts", &AllKinds::counts)
        .AddField("named", &AllKinds::named)
        .AddField("state", &AllKinds::state)
        .AddField("tiny", &AllKinds::tiny)
        .AddField("shortEnum", &AllKinds::shortEnum)
        .AddField("wide", &AllKinds::wide)
        .AddField("inner", &AllKinds::inner);
}

}  // namespace Tavo::Testing
