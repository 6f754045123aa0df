#include "tests/host/HostProcess.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

extern char** environ;

namespace Tavo::Testing {

namespace {

std::string ReadBack(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    for (std::size_t count; (count = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        text.append(buffer, count);
    }
    std::fclose(file);
    return text;
}

}  // namespace

Outcome RunHost(const std::vector<std::string>& args, std::string_view input) {
    // The emulator's command line, '|'-separated, then ulm-host's.
    std::vector<std::string> argv;
    std::istringstream emulator(TAVO_HOST_EMULATOR);
    for (std::string part; std::getline(emulator, part, '|');) {
        argv.push_back(part);
    }
    argv.push_back(TAVO_ULM_HOST);
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) {
        pointers.push_back(arg.data());
    }
    pointers.push_back(nullptr);

    Outcome outcome;
    std::FILE* files[] = {std::tmpfile(), std::tmpfile(), std::tmpfile()};  // in, out, err
    if (files[0] == nullptr || files[1] == nullptr || files[2] == nullptr) {
        ADD_FAILURE() << "cannot create temporary files";
        return outcome;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd < 3; ++fd) {
        posix_spawn_file_actions_adddup2(&actions, fileno(files[fd]), fd);
    }
    if (!input.empty()) {  // an empty view may have no data at all
        std::fwrite(input.data(), 1, input.size(), files[0]);
    }
    std::fflush(files[0]);
    std::rewind(files[0]);
    pid_t child = 0;
    const int spawned =
        posix_spawnp(&child, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    std::fclose(files[0]);
    int status = 0;
    if (spawned != 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        ADD_FAILURE() << "ulm-host did not start or did not exit normally";
    } else {
        outcome.status = WEXITSTATUS(status);
    }
    outcome.out = ReadBack(files[1]);
    outcome.err = ReadBack(files[2]);
    return outcome;
}

}  // namespace Tavo::Testing
