// Differential round trip of JSON: read arbitrary text, write the tree in
// both layouts, read the writing again. The trees must be equal (floats bit
// for bit), except that "-0" reads as signed 0 and writes as "0", which reads
// as unsigned 0. Writing is stable: the second tree writes the same text.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "formats/JsonReader.h"
#include "formats/JsonWriter.h"

namespace {

using Tavo::BindingProperty;
using Kind = BindingProperty::Kind;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_json_roundtrip: %s\n", what);
        std::abort();
    }
}

// operator== but for the signed zero that comes back unsigned.
bool SameAfterWriting(const BindingProperty& read, const BindingProperty& reread) {
    if (read.GetKind() == Kind::Signed && read.GetSigned() == 0) {
        return reread.GetKind() == Kind::Unsigned && reread.GetUnsigned() == 0;
    }
    if (read.GetKind() != reread.GetKind()) {
        return false;
    }
    if (read.GetKind() == Kind::Collection) {
        if (read.Size() != reread.Size()) {
            return false;
        }
        for (std::size_t i = 0; i < read.Size(); ++i) {
            if (!SameAfterWriting(read.ElementAt(i), reread.ElementAt(i))) {
                return false;
            }
        }
        return true;
    }
    if (read.GetKind() == Kind::Structure) {
        if (read.Size() != reread.Size()) {
            return false;
        }
        auto other = reread.Fields().begin();
        for (auto field : read.Fields()) {
            if (field.key.View() != (*other).key.View() ||
                !SameAfterWriting(field.value, (*other).value)) {
                return false;
            }
            ++other;
        }
        return true;
    }
    return read == reread;
}

bool HasBlankOutsideStrings(const std::string& json) {
    bool inString = false;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Tavo::BindingResult first = Tavo::ParseJson(text);
    if (!first.IsOk()) {
        return 0;
    }
    const std::string compact = Tavo::WriteJson(first.Value());
    Check(!HasBlankOutsideStrings(compact), "compact text has a blank");
    Tavo::BindingResult second = Tavo::ParseJson(compact);
    Check(second.IsOk(), "compact text does not read back");
    Check(SameAfterWriting(first.Value(), second.Value()), "compact text reads back differently");
    Check(Tavo::WriteJson(second.Value()) == compact, "writing is not stable");

    const std::string indented = Tavo::WriteJson(first.Value(), nullptr, "\r\n");
    Tavo::BindingResult third = Tavo::ParseJson(indented);
    Check(third.IsOk(), "indented text does not read back");
    Check(third.Value() == second.Value(), "indented and compact texts read differently");
    return 0;
}
