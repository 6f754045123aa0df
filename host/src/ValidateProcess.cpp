#include "ValidateProcess.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#if !defined(_WIN32)
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace Tavo::Host {

namespace {

// More output than this from one check is dropped: a check that floods its
// output must not fill the validator's memory.
constexpr std::size_t kMaxOutput = 64u << 10;
constexpr std::size_t kMaxReport = 1u << 20;

}  // namespace

#if defined(_WIN32)

IsolatedOutcome RunIsolated(const std::function<int(ChildChannel&)>&, double, std::size_t,
                            const std::vector<std::string>&) {
    IsolatedOutcome outcome;
    outcome.end = IsolatedOutcome::End::Unsupported;
    outcome.error = "checks cannot run in a process of their own on this platform yet";
    return outcome;
}

bool ListExportedSymbols(const std::string&, std::vector<std::string>&, std::string& error) {
    error = "listing a library's exports is not supported on this platform yet";
    return false;
}

void* FindLibrarySymbol(const std::string&, const std::string&, std::string& error) {
    error = "checks cannot open a library on this platform yet";
    return nullptr;
}

#else

namespace {

class PipeChannel final : public ChildChannel {
public:
    PipeChannel(int fd, std::span<std::uint8_t> shared) : fd_(fd), shared_(shared) {}

    void Write(std::string_view text) override {
        while (!text.empty()) {
            const ssize_t written = ::write(fd_, text.data(), text.size());
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return;
            }
            text.remove_prefix(static_cast<std::size_t>(written));
        }
    }

    std::span<std::uint8_t> Shared() override { return shared_; }

private:
    int fd_;
    std::span<std::uint8_t> shared_;
};

std::string SignalName(int number) {
    switch (number) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGABRT:
            return "SIGABRT";
        case SIGBUS:
            return "SIGBUS";
        case SIGFPE:
            return "SIGFPE";
        case SIGILL:
            return "SIGILL";
        case SIGKILL:
            return "SIGKILL";
        case SIGTERM:
            return "SIGTERM";
        case SIGTRAP:
            return "SIGTRAP";
        default:
            return "signal " + std::to_string(number);
    }
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// Reads what is there; false at end of file or on error.
bool Drain(int fd, std::string& into, std::size_t limit) {
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
        return true;
    }
    if (got <= 0) {
        return false;
    }
    const std::size_t room = into.size() < limit ? limit - into.size() : 0;
    into.append(buffer,
                static_cast<std::size_t>(got) < room ? static_cast<std::size_t>(got) : room);
    return true;
}

}  // namespace

IsolatedOutcome RunIsolated(const std::function<int(ChildChannel&)>& body, double timeoutSeconds,
                            std::size_t sharedBytes, const std::vector<std::string>&) {
    using Clock = std::chrono::steady_clock;
    IsolatedOutcome outcome;
    void* shared = nullptr;
    if (sharedBytes != 0) {
        shared =
            ::mmap(nullptr, sharedBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (shared == MAP_FAILED) {
            outcome.error = std::string("cannot map shared memory: ") + std::strerror(errno);
            return outcome;
        }
    }
    int reportPipe[2] = {-1, -1};
    int outputPipe[2] = {-1, -1};
    if (::pipe(reportPipe) != 0 || ::pipe(outputPipe) != 0) {
        outcome.error = std::string("cannot create a pipe: ") + std::strerror(errno);
        CloseFd(reportPipe[0]);
        CloseFd(reportPipe[1]);
        if (shared != nullptr) {
            ::munmap(shared, sharedBytes);
        }
        return outcome;
    }
    std::fflush(nullptr);
    const Clock::time_point start = Clock::now();
    const pid_t child = ::fork();
    if (child < 0) {
        outcome.error = std::string("cannot start a process: ") + std::strerror(errno);
        for (int* fd : {&reportPipe[0], &reportPipe[1], &outputPipe[0], &outputPipe[1]}) {
            CloseFd(*fd);
        }
        if (shared != nullptr) {
            ::munmap(shared, sharedBytes);
        }
        return outcome;
    }
    if (child == 0) {
        // The child: its output goes to the parent, its verdict through the
        // report pipe. _exit: the parent's exit handlers are not the child's.
        ::close(reportPipe[0]);
        ::close(outputPipe[0]);
        ::dup2(outputPipe[1], STDOUT_FILENO);
        ::dup2(outputPipe[1], STDERR_FILENO);
        ::close(outputPipe[1]);
        // Unbuffered: what the child printed before a crash still arrives.
        std::setvbuf(stdout, nullptr, _IONBF, 0);
        PipeChannel channel(reportPipe[1],
                            std::span<std::uint8_t>(static_cast<std::uint8_t*>(shared),
                                                    shared != nullptr ? sharedBytes : 0));
        int status = 1;
        try {
            status = body(channel);
        } catch (...) {
            channel.Write("\nthe check ended with an exception\n");
        }
        std::fflush(nullptr);
        ::_exit(status);
    }

    CloseFd(reportPipe[1]);
    CloseFd(outputPipe[1]);
    const Clock::time_point deadline =
        start + std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(timeoutSeconds > 0 ? timeoutSeconds : 0));
    bool timedOut = false;
    int status = 0;
    bool reaped = false;
    while (true) {
        pollfd fds[2];
        nfds_t count = 0;
        for (int fd : {reportPipe[0], outputPipe[0]}) {
            if (fd >= 0) {
                fds[count++] = pollfd{fd, POLLIN, 0};
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        if (count == 0) {
            // Both pipes closed: wait for the exit itself, still bounded.
            const pid_t done = ::waitpid(child, &status, WNOHANG);
            if (done == child) {
                reaped = true;
                break;
            }
            ::usleep(5000);
            continue;
        }
        const int ready = ::poll(fds, count, static_cast<int>(left < 200 ? left : 200));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        for (nfds_t i = 0; i < count; ++i) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            const bool isReport = fds[i].fd == reportPipe[0];
            if (!Drain(fds[i].fd, isReport ? outcome.report : outcome.output,
                       isReport ? kMaxReport : kMaxOutput)) {
                CloseFd(isReport ? reportPipe[0] : outputPipe[0]);
            }
        }
    }
    if (!reaped) {
        if (timedOut) {
            ::kill(child, SIGKILL);
        }
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    CloseFd(reportPipe[0]);
    CloseFd(outputPipe[0]);
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (timedOut) {
        outcome.end = IsolatedOutcome::End::TimedOut;
    } else if (WIFSIGNALED(status)) {
        outcome.end = IsolatedOutcome::End::Signaled;
        outcome.signal = WTERMSIG(status);
        outcome.signalName = SignalName(outcome.signal);
    } else {
        outcome.end = IsolatedOutcome::End::Exited;
        outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (shared != nullptr) {
        const auto* bytes = static_cast<const std::uint8_t*>(shared);
        outcome.shared.assign(bytes, bytes + sharedBytes);
        ::munmap(shared, sharedBytes);
    }
    return outcome;
}

namespace {

// Reads `count` bytes at `offset` of `file` into `out`; false when outside.
template <class T>
bool ReadAt(const std::string& file, std::uint64_t offset, T& out) {
    if (offset > file.size() || file.size() - offset < sizeof(T)) {
        return false;
    }
    std::memcpy(&out, file.data() + offset, sizeof(T));
    return true;
}

template <class Header, class Section, class Symbol>
bool ListElfExports(const std::string& file, std::vector<std::string>& out, std::string& error) {
    Header header;
    if (!ReadAt(file, 0, header) || header.e_shentsize != sizeof(Section)) {
        error = "the ELF header is damaged";
        return false;
    }
    auto section = [&](std::uint64_t index, Section& into) {
        return index < header.e_shnum &&
               ReadAt(file, header.e_shoff + index * sizeof(Section), into);
    };
    for (std::uint64_t i = 0; i < header.e_shnum; ++i) {
        Section symbols;
        if (!section(i, symbols)) {
            error = "a section header lies outside the file";
            return false;
        }
        if (symbols.sh_type != SHT_DYNSYM) {
            continue;
        }
        Section names;
        if (!section(symbols.sh_link, names) || names.sh_offset > file.size() ||
            file.size() - names.sh_offset < names.sh_size) {
            error = "the dynamic symbol names lie outside the file";
            return false;
        }
        const std::uint64_t entries = symbols.sh_size / sizeof(Symbol);
        for (std::uint64_t s = 1; s < entries; ++s) {
            Symbol symbol;
            if (!ReadAt(file, symbols.sh_offset + s * sizeof(Symbol), symbol)) {
                error = "a dynamic symbol lies outside the file";
                return false;
            }
            const unsigned bind = symbol.st_info >> 4;
            const unsigned type = symbol.st_info & 0xf;
            const unsigned visibility = symbol.st_other & 0x3;
            const bool global = bind == STB_GLOBAL || bind == STB_WEAK || bind == STB_GNU_UNIQUE;
            const bool visible = visibility == STV_DEFAULT || visibility == STV_PROTECTED;
            // Version names are absolute symbols of value 0; not exports.
            const bool versionName = symbol.st_shndx == SHN_ABS && symbol.st_value == 0;
            if (symbol.st_shndx == SHN_UNDEF || !global || !visible || versionName ||
                type == STT_SECTION || type == STT_FILE) {
                continue;
            }
            if (symbol.st_name >= names.sh_size) {
                error = "a symbol name lies outside its table";
                return false;
            }
            const char* name = file.data() + names.sh_offset + symbol.st_name;
            out.emplace_back(name, strnlen(name, names.sh_size - symbol.st_name));
        }
        return true;
    }
    error = "the library has no dynamic symbol table";
    return false;
}

}  // namespace

bool ListExportedSymbols(const std::string& path, std::vector<std::string>& out,
                         std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open '" + path + "'";
        return false;
    }
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < EI_NIDENT || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0) {
        error = "'" + path + "' is not an ELF file";
        return false;
    }
    if (file[EI_DATA] != ELFDATA2LSB) {
        error = "'" + path + "' is not little-endian";
        return false;
    }
    if (file[EI_CLASS] == ELFCLASS32) {
        return ListElfExports<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym>(file, out, error);
    }
    if (file[EI_CLASS] == ELFCLASS64) {
        return ListElfExports<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym>(file, out, error);
    }
    error = "'" + path + "' has an unknown ELF class";
    return false;
}

void* FindLibrarySymbol(const std::string& path, const std::string& symbol, std::string& error) {
    // As PluginLibrary opens a plugin: its symbols its own, kept mapped.
    const std::string openPath = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = ::dlopen(openPath.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle == nullptr) {
        const char* reason = ::dlerror();
        error = "cannot load '" + path + "': " + (reason != nullptr ? reason : "unknown error");
        return nullptr;
    }
    void* address = ::dlsym(handle, symbol.c_str());
    if (address == nullptr) {
        error = "'" + path + "' has no export " + symbol;
    }
    return address;
}

#endif

}  // namespace Tavo::Host
