#pragma once
// The operating-system seam of `ulm-host validate`: running one check in a
// process of its own with a time limit, and listing what a plugin library
// exports. Everything platform-specific of the validator lives behind these
// two functions (ValidateProcess.cpp); the checks themselves are portable.
//
// Isolation: a check that crashes or hangs must fail that check only, so
// each runs in a child process. On POSIX the child is a fork of ulm-host
// that runs the check's body directly; a build without fork is to start
// ulm-host itself with the hidden option `validate --run-one NAME`, which
// runs one check in the process and writes its report to standard output
// (the selfArguments of RunIsolated). Until that is written there, the
// outcome says Unsupported and nothing runs.
//
// Threading: call from one thread; the child is started and reaped before
// RunIsolated returns.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Tavo::Host {

// How the child talks back while it runs. Lives in the child only.
class ChildChannel {
public:
    virtual ~ChildChannel() = default;
    // Appends `text` to the report the parent receives (even when the child
    // dies later: every call is written through at once).
    virtual void Write(std::string_view text) = 0;
    // A zero-filled block shared with the parent, which receives its final
    // contents however the child ends. Empty when none was asked for.
    virtual std::span<std::uint8_t> Shared() = 0;
};

struct IsolatedOutcome {
    enum class End {
        Exited,       // the child returned from the body or called exit
        Signaled,     // ended by a signal (a crash, an abort)
        TimedOut,     // killed after the time limit
        Unsupported,  // this platform cannot isolate a check
        NotStarted,   // the child could not be created; `error` says why
    };
    End end = End::NotStarted;
    int exitStatus = 0;  // when Exited
    int signal = 0;      // when Signaled
    std::string signalName;
    double seconds = 0;  // wall time of the child
    std::string report;  // everything the child wrote through its channel
    std::string output;  // its standard output and error, the first 64 KiB
    std::vector<std::uint8_t> shared;
    std::string error;
};

// Runs `body` in a child process and waits for it at most `timeoutSeconds`
// (a longer run is killed). The child's exit status is the body's result;
// its standard output and error are captured. `sharedBytes` is the size of
// the block ChildChannel::Shared gives the child.
//
// `selfArguments` runs the same body where a process cannot be forked: the
// arguments after ulm-host's own path that make a fresh ulm-host run `body`
// and write its report to standard output (`validate --run-one NAME ...`).
// The POSIX build forks and does not use them; a port without fork starts
// itself with them, and gives such a child no shared block.
IsolatedOutcome RunIsolated(const std::function<int(ChildChannel&)>& body, double timeoutSeconds,
                            std::size_t sharedBytes = 0,
                            const std::vector<std::string>& selfArguments = {});

// The names a shared library exports to the process that loads it (defined
// global and weak symbols of default or protected visibility), read from
// the file. False with `error` set when the file cannot be read or is not a
// library of a format this platform knows.
bool ListExportedSymbols(const std::string& path, std::vector<std::string>& out,
                         std::string& error);

// The address of `symbol` in the library at `path`, opened as the loader
// opens plugins (kept mapped for the life of the process). Null with
// `error` set when the library does not open or lacks the symbol.
void* FindLibrarySymbol(const std::string& path, const std::string& symbol, std::string& error);

}  // namespace Tavo::Host
