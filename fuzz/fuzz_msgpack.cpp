// MessagePack reading of arbitrary bytes, checked three ways:
// - a failure carries one of the reader's messages, and the bytes consumed
//   never pass the end;
// - reading again just the bytes consumed gives the same value;
// - differential against msgpack-c: where it reads a complete value, ours
//   reads the same value (kinds by format aside, which msgpack-c does not
//   keep) and consumes the same bytes, or refuses what ours refuses by design
//   (ext formats, keys that are not strings, nesting beyond the limit); where
//   msgpack-c refuses, ours either fails too or stops at the end of the data
//   with a container cut short. Maps with a repeated key are merged by our
//   reader and are not compared.

#define MSGPACK_NO_BOOST
#include <msgpack.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <set>
#include <string_view>

#include "formats/MessagePack.h"

namespace {

using Tavo::BindingProperty;
using Kind = BindingProperty::Kind;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_msgpack: %s\n", what);
        std::abort();
    }
}

bool IsKnownFailure(std::string_view message) {
    return message.starts_with("Invalid MessagePack data at position ") ||
           message.starts_with("Invalid MessagePack data. ");
}

// Failures that msgpack-c does not share: it reads ext formats and keys of
// any kind, and nests without a limit.
bool IsRefusalByDesign(std::string_view message) {
    return message.starts_with("Invalid MessagePack data at position ");
}

// Whether `tree` holds what `object` says; `known` is cleared when a
// repeated map key makes the comparison moot.
bool Matches(const msgpack::object& object, const BindingProperty& tree, bool& known) {
    switch (object.type) {
        case msgpack::type::NIL:
            return tree.IsEmpty();
        case msgpack::type::BOOLEAN:
            return tree.GetKind() == Kind::Bool && tree.GetBool() == object.via.boolean;
        case msgpack::type::POSITIVE_INTEGER:
            return tree.GetKind() == Kind::Unsigned
                       ? tree.GetUnsigned() == object.via.u64
                       : tree.GetKind() == Kind::Signed && tree.GetSigned() >= 0 &&
                             static_cast<std::uint64_t>(tree.GetSigned()) == object.via.u64;
        case msgpack::type::NEGATIVE_INTEGER:
            return tree.GetKind() == Kind::Signed && tree.GetSigned() == object.via.i64;
        case msgpack::type::FLOAT32:
        case msgpack::type::FLOAT64: {
            const double value = tree.GetFloat();
            return tree.GetKind() == Kind::Float &&
                   std::memcmp(&value, &object.via.f64, sizeof value) == 0;
        }
        case msgpack::type::STR:
            return tree.GetKind() == Kind::String &&
                   tree.GetString() == std::string_view(object.via.str.ptr, object.via.str.size);
        case msgpack::type::BIN: {
            auto blob = tree.GetBlob();
            return tree.GetKind() == Kind::Blob && blob.size() == object.via.bin.size &&
                   (blob.empty() || std::memcmp(blob.data(), object.via.bin.ptr, blob.size()) == 0);
        }
        case msgpack::type::ARRAY: {
            if (tree.GetKind() != Kind::Collection || tree.Size() != object.via.array.size) {
                return false;
            }
            for (std::uint32_t i = 0; i < object.via.array.size; ++i) {
                if (!Matches(object.via.array.ptr[i], tree.ElementAt(i), known)) {
                    return false;
                }
            }
            return true;
        }
        case msgpack::type::MAP: {
            std::set<std::string_view> keys;
            for (std::uint32_t i = 0; i < object.via.map.size; ++i) {
                const msgpack::object& key = object.via.map.ptr[i].key;
                if (key.type != msgpack::type::STR) {
                    return false;  // our reader refuses such a map
                }
                if (!keys.insert(std::string_view(key.via.str.ptr, key.via.str.size)).second) {
                    known = false;
                    return true;
                }
            }
            if (tree.GetKind() != Kind::Structure || tree.Size() != keys.size()) {
                return false;
            }
            for (std::uint32_t i = 0; i < object.via.map.size; ++i) {
                const msgpack::object& key = object.via.map.ptr[i].key;
                const std::string_view name(key.via.str.ptr, key.via.str.size);
                bool found = false;
                for (auto field : tree.Fields()) {
                    found = found || field.key.View() == name;
                }
                if (!found || !Matches(object.via.map.ptr[i].val, tree.Find(name), known)) {
                    return false;
                }
            }
            return true;
        }
        default:  // ext: our reader refuses it
            return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Tavo::MessagePackReadResult read = Tavo::ReadMessagePack(data, size);
    Check(read.bytesConsumed <= size, "consumed past the end");
    Check(read.result.IsOk() || IsKnownFailure(read.result.ErrorMessage()), "unknown failure");
    Check(size == 0 || read.bytesConsumed > 0, "consumed nothing");

    if (read.result.IsOk()) {
        Tavo::MessagePackReadResult again = Tavo::ReadMessagePack(data, read.bytesConsumed);
        Check(again.result.IsOk() && again.bytesConsumed == read.bytesConsumed &&
                  again.result.Value() == read.result.Value(),
              "the bytes consumed read differently");
    }
    if (size == 0) {
        return 0;
    }

    // Limits keep msgpack-c from reserving for counts the data cannot hold.
    const msgpack::unpack_limit limit(size, size, size, size, size);
    std::size_t offset = 0;
    msgpack::object_handle handle;
    bool referenceOk = true;
    try {
        handle = msgpack::unpack(reinterpret_cast<const char*>(data), size, offset, nullptr,
                                 nullptr, limit);
    } catch (const std::exception&) {
        referenceOk = false;
    }

    if (referenceOk) {
        if (!read.result.IsOk()) {
            Check(IsRefusalByDesign(read.result.ErrorMessage()), "refused a complete value");
            return 0;
        }
        Check(read.bytesConsumed == offset, "consumed a different length");
        bool known = true;
        Check(Matches(handle.get(), read.result.Value(), known) || !known, "values differ");
    } else if (read.result.IsOk()) {
        Check(read.bytesConsumed == size, "read a value msgpack-c refuses");
    }
    return 0;
}
