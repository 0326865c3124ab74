// The parser core under Google Benchmark: the scan of every workload that
// bench/corpus.py wrote, on every kernel the processor runs, in bytes of
// UTF-8 per second, each beside memcpy of the same bytes into a buffer that
// is already allocated.
//
//   parser_bench WORKLOAD_DIR [--benchmark_... options]
//
// Every input is scanned at the width of the str CPython makes of it, as
// parse_str scans it. A file whose name ends in "_lines" (short_lines.txt,
// cjk_lines.txt, ...) is parsed one line at a time, a pass over all its lines
// per iteration; every other file is parsed as one input. The scan reports
// where the tags lie and copies nothing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "parser/kernel.hpp"
#include "str_units.hpp"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kLinesSuffix = "_lines";

bool is_lines_workload(const std::string& name) {
    return name.size() >= kLinesSuffix.size() &&
           name.compare(name.size() - kLinesSuffix.size(), kLinesSuffix.size(), kLinesSuffix) == 0;
}

struct Workload {
    std::string name;
    std::vector<std::string> inputs;  // each iteration handles them all, in order
    std::vector<StrUnits> units;      // the same at their str's width
    int64_t bytes = 0;                // their UTF-8 sizes added up
};

std::string read_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

Workload load(const fs::path& path) {
    Workload workload;
    workload.name = path.stem().string();
    std::string text = read_file(path);
    if (is_lines_workload(workload.name)) {
        workload.inputs = split_lines(text);
    } else {
        workload.inputs.push_back(std::move(text));
    }
    for (const std::string& input : workload.inputs) {
        workload.bytes += static_cast<int64_t>(input.size());
        workload.units.emplace_back(input);
    }
    return workload;
}

void parse(benchmark::State& state, const Workload& workload, const marquill::Kernel& kernel) {
    for (auto _ : state) {
        for (const StrUnits& units : workload.units) {
            benchmark::DoNotOptimize(units.scan(kernel));
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(state.iterations() * workload.bytes);
}

void copy(benchmark::State& state, const Workload& workload) {
    size_t largest = 0;
    for (const std::string& input : workload.inputs) largest = std::max(largest, input.size());
    const std::unique_ptr<char[]> buffer(new char[largest + 1]);
    for (auto _ : state) {
        for (const std::string& input : workload.inputs) {
            std::memcpy(buffer.get(), input.data(), input.size());
            benchmark::DoNotOptimize(buffer.get());
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(state.iterations() * workload.bytes);
}

std::vector<fs::path> workload_files(const fs::path& directory) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(directory)) {
        if (entry.path().extension() == ".txt") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The workloads live as long as the process: the benchmarks refer to them.
void register_benchmarks(const std::vector<Workload>& workloads) {
    for (const Workload& workload : workloads) {
        for (const marquill::Kernel* kernel : marquill::runnable_kernels()) {
            benchmark::RegisterBenchmark(
                ("parse/" + std::string(kernel->name) + "/" + workload.name).c_str(),
                [&workload, kernel](benchmark::State& state) { parse(state, workload, *kernel); });
        }
        benchmark::RegisterBenchmark(("memcpy/" + workload.name).c_str(),
                                     [&workload](benchmark::State& state) { copy(state, workload); });
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc != 2 || !fs::is_directory(argv[1])) {
        std::cerr << "usage: parser_bench WORKLOAD_DIR [--benchmark_... options]\n";
        return 2;
    }
    std::vector<Workload> workloads;
    for (const fs::path& file : workload_files(argv[1])) workloads.push_back(load(file));
    register_benchmarks(workloads);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
