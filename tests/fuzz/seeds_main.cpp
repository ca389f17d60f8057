// Runs a fuzz target once on each file of the seed folders given after the
// first argument, then on as many pseudo-random inputs as the first argument
// says (always the same series), as a plain test without libFuzzer: the
// targets' models then check the committed seeds and thousands of other
// values in every configuration.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    auto run = [](const std::string& bytes) {
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    };
    for (int i = 2; i < argc; ++i) {
        for (const auto& seed : std::filesystem::directory_iterator(argv[i])) {
            std::ifstream in(seed.path(), std::ios::binary);
            run(std::string{std::istreambuf_iterator<char>(in), {}});
        }
    }
    std::mt19937 random(2026);
    for (int n = argc > 1 ? std::stoi(argv[1]) : 0; n > 0; --n) {
        std::string bytes(random() % 600, '\0');
        for (char& byte : bytes) byte = static_cast<char>(random());
        run(bytes);
    }
}
