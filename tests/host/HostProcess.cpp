#include "tests/host/HostProcess.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>

extern char** environ;

namespace Tavo::Testing {

namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File TempFile() {
    return File(std::tmpfile(), &std::fclose);
}

std::string ReadBack(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, count);
    }
    return text;
}

}  // namespace

Outcome RunHost(const std::vector<std::string>& args, std::string_view input) {
    std::vector<std::string> argv;
    const std::string emulator = TAVO_HOST_EMULATOR;
    for (std::size_t begin = 0; !emulator.empty() && begin <= emulator.size();) {
        const std::size_t end = std::min(emulator.find('|', begin), emulator.size());
        argv.push_back(emulator.substr(begin, end - begin));
        begin = end + 1;
    }
    argv.push_back(TAVO_ULM_HOST);
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) {
        pointers.push_back(arg.data());
    }
    pointers.push_back(nullptr);

    Outcome outcome;
    File in = TempFile(), out = TempFile(), err = TempFile();
    if (!in || !out || !err) {
        ADD_FAILURE() << "cannot create temporary files";
        return outcome;
    }
    if (!input.empty()) {
        std::fwrite(input.data(), 1, input.size(), in.get());
    }
    std::fflush(in.get());
    std::rewind(in.get());

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fileno(in.get()), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fileno(out.get()), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fileno(err.get()), STDERR_FILENO);
    pid_t child = 0;
    const int spawned =
        posix_spawnp(&child, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argv[0];
        return outcome;
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        ADD_FAILURE() << "ulm-host did not exit normally";
        return outcome;
    }
    outcome.status = WEXITSTATUS(status);
    outcome.out = ReadBack(out.get());
    outcome.err = ReadBack(err.get());
    return outcome;
}

}  // namespace Tavo::Testing
