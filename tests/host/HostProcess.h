#pragma once
// Runs the built ulm-host as a child process (through the build's emulator
// in a cross build) and collects its standard output, standard error and
// exit status. Used by the end-to-end suites of ulm-host.

#include <string>
#include <string_view>
#include <vector>

namespace Tavo::Testing {

struct Outcome {
    int status = -1;  // exit status; -1 when the child did not exit normally
    std::string out;
    std::string err;
};

// Runs ulm-host with `args`, `input` on its standard input. A failure to
// start it is reported as a test failure and returns status -1.
Outcome RunHost(const std::vector<std::string>& args, std::string_view input = {});

}  // namespace Tavo::Testing
