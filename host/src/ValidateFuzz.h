#pragma once
// Hostile inputs for `ulm-host validate`, drawn from a seed so that a run
// can be replayed: host values of every kind (foreign type codes, deep
// nesting, huge counts, null pointers, texts with NUL bytes and invalid
// UTF-8, missing and duplicate keys), event payloads shaped almost like a
// resource event, and requests to an exported function near its route.
//
// Every value and request built here is host-owned: the forge keeps the
// memory until it is destroyed or Clear is called, and the plugin only
// reads it (which is what the boundary allows it to do with host memory).
//
// Threading: one thread. Not copyable.

#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "abi/HostAbi.h"

namespace Tavo::Host {

class HostileForge {
public:
    explicit HostileForge(std::uint64_t seed) : random_(seed) {}
    HostileForge(const HostileForge&) = delete;
    HostileForge& operator=(const HostileForge&) = delete;

    // Any host value, `budget` bounding how many nodes it may have beyond
    // the few very large ones it sometimes makes on purpose.
    HostValue Value(int budget = 64);
    // A payload for the event `eventName`: mostly {"uri", "eventType",
    // "data"} with one part missing, mistyped or strange; sometimes any
    // value at all.
    HostValue EventPayload(const std::string& uri);

    // One request to `entry`, method and target near its route.
    struct Request {
        HostRequest record{};
        std::string summary;  // "GET /items/%ff?x" for progress lines
    };
    Request RequestFor(const ApiExportFunctionEntry& entry);

    // Frees everything made so far.
    void Clear();

    std::uint64_t Next() { return random_(); }
    // A number in [0, bound).
    std::uint32_t Below(std::uint32_t bound) {
        return bound == 0 ? 0 : static_cast<std::uint32_t>(random_() % bound);
    }

private:
    const char* Text();     // a hostile text, kept
    std::string RawText();  // the bytes of one
    const char* Keep(std::string text);
    HostValue Deep(int depth);
    HostValue Huge();
    std::string Segment();
    std::string Target(const char* pathTemplate);

    std::mt19937_64 random_;
    std::deque<std::string> texts_;
    std::deque<std::vector<HostValue>> arrays_;
    std::deque<std::vector<HostMapEntry>> maps_;
    std::deque<std::vector<HostRequestArgument>> arguments_;
    std::deque<std::vector<HostHeaderPair>> headers_;
    std::deque<std::vector<std::uint8_t>> bodies_;
};

}  // namespace Tavo::Host
