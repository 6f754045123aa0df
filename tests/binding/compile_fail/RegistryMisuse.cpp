// Registry misuse that must not compile. Built once per variant by CTest:
// TAVO_VARIANT 0 is the correct registration and must compile; every other
// variant adds one misuse and must be refused.

#include <cstdint>
#include <string>

#include "binding/BindingRegistry.h"

namespace {

struct Record {
    std::uint32_t id = 0;
    std::string name;
    const std::int32_t fixed = 0;
    char* raw = nullptr;
    long double wide = 0;
    void Method() {}
};

struct Other {
    std::uint32_t id = 0;
};

}  // namespace

void Register(Tavo::BindingRegistry& registry) {
    auto record = registry.DeclareStruct<Record>("Record");
    record.AddField("id", &Record::id).AddField("name", &Record::name);
#if TAVO_VARIANT == 1
    record.AddField("fixed", &Record::fixed);  // a const member cannot be written
#elif TAVO_VARIANT == 2
    record.AddField("raw", &Record::raw);  // a pointer is not a bindable type
#elif TAVO_VARIANT == 3
    record.AddField("wide", &Record::wide);  // nor is long double
#elif TAVO_VARIANT == 4
    record.AddField("id", &Other::id);  // a member of another struct
#elif TAVO_VARIANT == 5
    record.AddField("method", &Record::Method);  // not a data member
#elif TAVO_VARIANT == 6
    registry.DeclareEnum<std::uint32_t>("NotAnEnum");
#endif
}
