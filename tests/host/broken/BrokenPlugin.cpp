// A deliberately broken plugin for the tests of `ulm-host validate`. One
// source, built into one library per fault (CMakeLists.txt), so that each
// library has exactly one fault and the validator must fail exactly the
// check meant to catch it:
//
//   TAVO_BROKEN_LEAK          keeps a block at every Shutdown   lifecycle.cycles
//   TAVO_BROKEN_LATE_CALLBACK a late callback calls through a
//                             pointer cleared at Shutdown       call-order.late-callbacks
//   TAVO_BROKEN_SECOND_EXPORT exports a second symbol           load.exports
//   TAVO_BROKEN_EXPORT_BLOCK  a cycle in the export block       export.integrity
//   TAVO_BROKEN_HOSTILE_EVENT trusts an event payload's shape   events.hostile
//
// TAVO_BROKEN_EXPORT names the export, TAVO_BROKEN_NAME the short name.
// Everything else behaves: the faults are the only differences.

#include <cstring>

#include "framework/AppModule.h"
#include "framework/PluginEntry.h"
#include "platform/MemoryAccounting.h"
#include "tests/framework/ModuleTestSeam.h"

namespace Tavo::Testing {

namespace {

#if defined(TAVO_BROKEN_LEAK)
// The blocks kept at Shutdown; reachable, but never freed.
void* kept[4096];
std::size_t keptCount = 0;
#endif

class BrokenModule;

#if defined(TAVO_BROKEN_LATE_CALLBACK)
// What the late callback reaches the module through: cleared at Shutdown,
// and then used anyway.
struct LateTarget {
    BrokenModule* volatile module = nullptr;
};
LateTarget lateTarget;
#endif

#if defined(TAVO_BROKEN_HOSTILE_EVENT)
constexpr const char* kTrustedEvent = "OnJsonApiEvent_broken_v1_state";

// Assumes the payload is a map with a text "uri", without looking.
extern "C" void OnTrustedEvent(HostEvent* event) {
    const auto* entries = static_cast<const HostMapEntry*>(
        event->payload.type == static_cast<std::uint32_t>(HostValueType::Map)
            ? event->payload.payload.ref.pointer
            : nullptr);
    const char* volatile uri = nullptr;
    for (std::uint32_t i = 0; entries != nullptr && i < event->payload.payload.ref.count; ++i) {
        if (std::strcmp(entries[i].key, "uri") == 0) {
            uri = static_cast<const char*>(entries[i].value.payload.ref.pointer);
        }
    }
    volatile std::size_t length = std::strlen(uri);
    (void)length;
}
#endif

// Host thread only, like every module table.
class BrokenModule final : public Client::AppModule {
public:
    bool Start() override {
#if defined(TAVO_BROKEN_LATE_CALLBACK)
        lateTarget.module = this;
        // Due long after any run: it arrives only once the module is gone.
        // The raw slots, through the test seam: a plugin built on the
        // services could not make these faults.
        Testing::ModuleTestSeam::ScheduleCallback(*this, "broken.late", &LateCallback, &lateTarget,
                                                  3600, 0);
#endif
#if defined(TAVO_BROKEN_HOSTILE_EVENT)
        Testing::ModuleTestSeam::Subscribe(*this, kTrustedEvent, HostContext(), &OnTrustedEvent,
                                           nullptr, 0);
#endif
        return true;
    }

    void Stop() override {
#if defined(TAVO_BROKEN_LATE_CALLBACK)
        lateTarget.module = nullptr;
#endif
#if defined(TAVO_BROKEN_HOSTILE_EVENT)
        if (HostContext() != 0) {
            Testing::ModuleTestSeam::Unsubscribe(*this, kTrustedEvent, HostContext());
        }
#endif
#if defined(TAVO_BROKEN_LEAK)
        if (keptCount < std::size(kept)) {
            kept[keptCount++] = Memory::Allocate(1024);
        }
#endif
        AppModule::Stop();
    }

    int ticks = 0;

private:
#if defined(TAVO_BROKEN_LATE_CALLBACK)
    static void LateCallback(void* context) {
        // The fault: no check that the module is still there.
        ++static_cast<LateTarget*>(context)->module->ticks;
    }
#endif
};

#if defined(TAVO_BROKEN_EXPORT_BLOCK)
// A copy of the block whose first two type entries link to each other.
PluginApiExport corruptBlock;
ApiExportTypeEntry corruptTypes[2];

void CorruptExportBlock(PluginLoadRecord& record) {
    if (record.apiExport == nullptr || record.apiExport->types == nullptr ||
        record.apiExport->types->next == nullptr) {
        return;
    }
    corruptBlock = *record.apiExport;
    corruptTypes[0] = *corruptBlock.types;
    corruptTypes[1] = *corruptBlock.types->next;
    corruptTypes[0].next = &corruptTypes[1];
    corruptTypes[1].next = &corruptTypes[0];
    corruptBlock.types = &corruptTypes[0];
    record.apiExport = &corruptBlock;
}
#endif

}  // namespace

}  // namespace Tavo::Testing

extern "C" __attribute__((visibility("default"))) void* TAVO_BROKEN_EXPORT(
    Tavo::PluginLoadRecord* record) {
    void* module = Tavo::Client::LoadPlugin<Tavo::Testing::BrokenModule>(record, TAVO_BROKEN_NAME);
#if defined(TAVO_BROKEN_EXPORT_BLOCK)
    if (module != nullptr) {
        Tavo::Testing::CorruptExportBlock(*record);
    }
#endif
    return module;
}

#if defined(TAVO_BROKEN_SECOND_EXPORT)
// The fault: a second name leaves the library.
extern "C" __attribute__((visibility("default"))) int broken_second_export() {
    return 1;
}
#endif
