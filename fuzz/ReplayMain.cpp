// Stands in for libFuzzer where it is not available: runs every input named
// on the command line (a file, or every regular file under a directory, in
// name order) once through LLVMFuzzerTestOneInput. Each input sits in a heap
// block of exactly its size, so the sanitizers see reads past its end.
// Exits 1 when an input cannot be read or when no input was found, so that
// a missing corpus cannot pass as an empty success.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

bool RunFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    if (!in || error) {
        std::fprintf(stderr, "replay: cannot read %s\n", path.string().c_str());
        return false;
    }
    const auto length = static_cast<std::size_t>(size);
    std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[length]);
    if (!in.read(reinterpret_cast<char*>(data.get()), static_cast<std::streamsize>(length))) {
        std::fprintf(stderr, "replay: cannot read %s\n", path.string().c_str());
        return false;
    }
    LLVMFuzzerTestOneInput(data.get(), length);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize != nullptr) {
        LLVMFuzzerInitialize(&argc, &argv);
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE-OR-DIRECTORY...\n", argv[0]);
        return 2;
    }
    std::size_t inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path root(argv[i]);
        std::error_code error;
        std::vector<fs::path> files;
        if (fs::is_directory(root, error)) {
            for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
                 it.increment(error)) {
                if (it->is_regular_file(error)) {
                    files.push_back(it->path());
                }
            }
            std::sort(files.begin(), files.end());
        } else {
            files.push_back(root);
        }
        if (error) {
            std::fprintf(stderr, "replay: cannot list %s: %s\n", argv[i], error.message().c_str());
            return 1;
        }
        for (const fs::path& file : files) {
            if (!RunFile(file)) {
                return 1;
            }
            ++inputs;
        }
    }
    if (inputs == 0) {
        std::fprintf(stderr, "replay: no inputs found\n");
        return 1;
    }
    std::printf("replay: %zu inputs ran without a finding\n", inputs);
    return 0;
}
