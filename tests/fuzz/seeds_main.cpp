// Runs a fuzz target once on each file of the seed folders it is given, as
// a plain test without libFuzzer: the targets' models then check the
// committed seeds in every configuration.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        for (const auto& seed : std::filesystem::directory_iterator(argv[i])) {
            std::ifstream in(seed.path(), std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(in), {}};
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        }
    }
}
