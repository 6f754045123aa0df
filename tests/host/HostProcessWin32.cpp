// Windows: ulm-host.exe as a child process with its standard handles on
// temporary files.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/host/HostProcess.h"

namespace Tavo::Testing {

namespace {

// One argument quoted for CommandLineToArgvW's rules: backslashes double
// only before a quote.
void AppendQuoted(std::string& line, const std::string& arg) {
    if (!line.empty()) {
        line += ' ';
    }
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
        line += arg;
        return;
    }
    line += '"';
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

// A temporary file that goes when its last handle closes.
HANDLE TemporaryFile() {
    char folder[MAX_PATH + 1];
    char name[MAX_PATH + 1];
    if (GetTempPathA(sizeof folder, folder) == 0 || GetTempFileNameA(folder, "uh", 0, name) == 0) {
        return INVALID_HANDLE_VALUE;
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

std::string ReadBack(HANDLE file) {
    std::string text;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(file, buffer, sizeof buffer, &count, nullptr) && count > 0) {
        text.append(buffer, count);
    }
    CloseHandle(file);
    return text;
}

}  // namespace

Outcome RunHost(const std::vector<std::string>& args, std::string_view input) {
    std::string line;
    AppendQuoted(line, TAVO_ULM_HOST);
    for (const std::string& arg : args) {
        AppendQuoted(line, arg);
    }
    Outcome outcome;
    HANDLE files[] = {TemporaryFile(), TemporaryFile(), TemporaryFile()};  // in, out, err
    for (HANDLE file : files) {
        if (file == INVALID_HANDLE_VALUE) {
            ADD_FAILURE() << "cannot create temporary files";
            return outcome;
        }
    }
    DWORD written = 0;
    if (!input.empty()) {
        WriteFile(files[0], input.data(), DWORD(input.size()), &written, nullptr);
    }
    SetFilePointer(files[0], 0, nullptr, FILE_BEGIN);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = files[0];
    startup.hStdOutput = files[1];
    startup.hStdError = files[2];
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(files[0]);
    DWORD status = 0;
    if (!started || WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.hProcess, &status)) {
        ADD_FAILURE() << "ulm-host did not start or did not exit normally";
    } else {
        outcome.status = int(status);
    }
    if (started) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    outcome.out = ReadBack(files[1]);
    outcome.err = ReadBack(files[2]);
    return outcome;
}

}  // namespace Tavo::Testing
