// Benchmarks of the support library, each beside its baseline: strings,
// the output file stream, the whole-file copy and exceptions.  Tracing is
// off throughout (bench_main.cpp).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "libutils/csgl/csgl_exc.hpp"
#include "libutils/csgl/csgl_file.hpp"
#include "libutils/csgl/csgl_output.hpp"
#include "libutils/csgl/csgl_string.hpp"

namespace {

// A copy of a string and its destruction: two steps of the body's
// reference count, each a locked counter step.
void csgl_string_copy(benchmark::State& state) {
    const csgl_string original("a connection text");
    for (auto _ : state) {
        const csgl_string copy(original);
        benchmark::DoNotOptimize(copy.c_str());
    }
}

// Baseline: the same two counter steps, each under an uncontended lock and
// unlock of a private pthread mutex.  The design keeps counts in a counter
// stepped under a private lock, so this is its floor.
struct locked_count {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    long value = 1;
};

void bare_mutex_pairs(benchmark::State& state) {
    locked_count count;
    for (auto _ : state) {
        pthread_mutex_lock(&count.mutex);
        ++count.value;
        pthread_mutex_unlock(&count.mutex);
        pthread_mutex_lock(&count.mutex);
        --count.value;
        pthread_mutex_unlock(&count.mutex);
        benchmark::DoNotOptimize(count.value);
    }
}

// For reference: the same copy and destruction of a std::shared_ptr,
// whose count is stepped by atomic instructions instead of a lock.
void std_shared_ptr_copy(benchmark::State& state) {
    const auto original = std::make_shared<std::string>("a connection text");
    for (auto _ : state) {
        const std::shared_ptr<std::string> copy(original);
        benchmark::DoNotOptimize(copy.get());
    }
}

BENCHMARK(csgl_string_copy)->Name("csgl/string_copy");
BENCHMARK(bare_mutex_pairs)->Name("bare/mutex_pair_x2");
BENCHMARK(std_shared_ptr_copy)->Name("std/shared_ptr_copy");

// A scratch directory for the file benchmarks under $TMPDIR (or /tmp), on
// the disk file system where possible, removed with what it holds at exit.
class scratch_directory {
public:
    scratch_directory() {
        const char* const tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                              "/transys_bench.XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~scratch_directory() {
        for (const std::string& name : files_) unlink(name.c_str());
        if (!path_.empty()) rmdir(path_.c_str());
    }
    scratch_directory(const scratch_directory&) = delete;
    scratch_directory& operator=(const scratch_directory&) = delete;

    // The path of `name` inside the directory, removed at exit.
    std::string file(const char* name) {
        files_.push_back(path_ + "/" + name);
        return files_.back();
    }
    bool made() const { return !path_.empty(); }

private:
    std::string path_;
    std::vector<std::string> files_;
};

scratch_directory& scratch() {
    static scratch_directory directory;
    return directory;
}

constexpr unsigned long file_bytes = 64ul << 20;

// 64 MiB through the output file stream, one character at a time; the
// stream's destruction, which writes its last buffer, is timed too.
void csgl_output_file_put_char(benchmark::State& state) {
    if (!scratch().made()) return state.SkipWithError("no scratch directory");
    const std::string path = scratch().file("output_stream");
    for (auto _ : state) {
        csgl_output_file out(path.c_str(), csgl_output_file::mode_truncate);
        for (unsigned long i = 0; i < file_bytes; ++i) out.put_char(static_cast<char>(i));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file_bytes));
}

// Baseline: the C library's cheapest character output, the putc_unlocked
// macro, into a FILE* given a buffer of the stream's 512 bytes, so both
// make the same system calls.
void bare_putc_unlocked(benchmark::State& state) {
    if (!scratch().made()) return state.SkipWithError("no scratch directory");
    const std::string path = scratch().file("output_stdio");
    for (auto _ : state) {
        std::FILE* const file = std::fopen(path.c_str(), "w");
        if (file == nullptr) return state.SkipWithError("fopen failed");
        char buffer[512];
        setvbuf(file, buffer, _IOFBF, sizeof buffer);
        for (unsigned long i = 0; i < file_bytes; ++i) putc_unlocked(static_cast<char>(i), file);
        std::fclose(file);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file_bytes));
}

BENCHMARK(csgl_output_file_put_char)->Name("csgl/output_file_64MiB")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(bare_putc_unlocked)->Name("bare/putc_unlocked_64MiB")->Unit(benchmark::kMillisecond);

// The source of the copies: 64 MiB written once and read once, so the
// copies find it in the page cache.
const std::string& copy_source() {
    static const std::string path = [] {
        const std::string name = scratch().file("copy_source");
        std::vector<char> block(1 << 20);
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7);
        const int out = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0640);
        bool written = out != -1;
        for (unsigned long done = 0; written && done < file_bytes; done += block.size()) {
            written = write(out, block.data(), block.size()) == static_cast<ssize_t>(block.size());
        }
        if (out != -1) close(out);
        const int in = open(name.c_str(), O_RDONLY);
        while (written && in != -1 && read(in, block.data(), block.size()) > 0) {
        }
        if (in != -1) close(in);
        return written ? name : std::string();
    }();
    return path;
}

// Copying a 64 MiB file that is in the page cache onto the same target
// again and again (each copy empties the previous one first).
void csgl_file_copy(benchmark::State& state) {
    if (!scratch().made() || copy_source().empty()) return state.SkipWithError("no source file");
    const std::string target = scratch().file("copy_target_csgl");
    for (auto _ : state) csgl_file::copy(copy_source().c_str(), target.c_str(), csgl_file::force);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file_bytes));
}

// Baseline: open both, then read and write blocks of the library's 8192
// bytes until the end of the source.
void bare_read_write_copy(benchmark::State& state) {
    if (!scratch().made() || copy_source().empty()) return state.SkipWithError("no source file");
    const std::string target = scratch().file("copy_target_bare");
    std::vector<char> buffer(8192);
    for (auto _ : state) {
        const int in = open(copy_source().c_str(), O_RDONLY);
        const int out = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0640);
        ssize_t count;
        while ((count = read(in, buffer.data(), buffer.size())) > 0) {
            if (write(out, buffer.data(), static_cast<std::size_t>(count)) != count) {
                state.SkipWithError("short write");
                break;
            }
        }
        close(out);
        close(in);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file_bytes));
}

BENCHMARK(csgl_file_copy)->Name("csgl/file_copy_64MiB")->Unit(benchmark::kMillisecond);
BENCHMARK(bare_read_write_copy)->Name("bare/read_write_copy_64MiB")
    ->Unit(benchmark::kMillisecond);

// Building, throwing and catching the library's commonest exception, as a
// library throw site does (a copy is thrown).
void csgl_exception(benchmark::State& state) {
    for (auto _ : state) {
        try {
            exc_throw(exc_invalid_parameter_t(__FILE__, __LINE__, "exc_invalid_parameter", 0));
        } catch (const exc_t& e) {
            benchmark::DoNotOptimize(e.error);
        }
    }
}

// Baseline: the standard exception with the same text, which also keeps
// its text in a reference-counted heap block.
void std_runtime_error(benchmark::State& state) {
    for (auto _ : state) {
        try {
            throw std::runtime_error("exc_invalid_parameter");
        } catch (const std::exception& e) {
            benchmark::DoNotOptimize(e.what());
        }
    }
}

BENCHMARK(csgl_exception)->Name("csgl/exc_invalid_parameter");
BENCHMARK(std_runtime_error)->Name("std/runtime_error");

}  // namespace
