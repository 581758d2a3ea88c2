// Replays fuzz inputs without libFuzzer, so every build (gcc included) runs
// the committed corpora: each file named, and each file inside a named
// directory, goes once through LLVMFuzzerTestOneInput. Fails when a path
// cannot be read or when there is nothing to replay.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);

int main(int argc, char **argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::filesystem::path> inputs{argv[i]};
        if (std::filesystem::is_directory(argv[i]))
            inputs.assign(std::filesystem::directory_iterator(argv[i]), std::filesystem::directory_iterator());
        for (const std::filesystem::path &path : inputs) {
            std::ifstream in(path, std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            if (!in)
                return std::fprintf(stderr, "cannot read %s\n", path.c_str()), 2;
            // A buffer of exactly the input's size, so that a sanitizer build
            // sees any read past its end.
            const std::unique_ptr<uint8_t[]> data(new uint8_t[bytes.size()]);
            std::copy(bytes.begin(), bytes.end(), data.get());
            LLVMFuzzerTestOneInput(data.get(), bytes.size());
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    return replayed ? 0 : 2;
}
