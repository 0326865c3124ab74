// The parser core alone on a file of lines, for bench/callgrind.py to count
// the instructions of parse_line: the scan of one line, at the width of the
// str that CPython would make of it, as parse_str runs it.
//
//   core_lines FILE [KERNEL]   prints the kernel and the number of lines and
//                              of tags; KERNEL defaults to the best one
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "parser/kernel.hpp"
#include "str_units.hpp"

#if defined(__GNUC__)
#define MARQUILL_NOINLINE __attribute__((noinline))
#else
#define MARQUILL_NOINLINE
#endif

MARQUILL_NOINLINE size_t parse_line(const StrUnits& line, const marquill::Kernel& kernel) { return line.scan(kernel); }

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: core_lines FILE [KERNEL]\n");
        return 2;
    }
    const marquill::Kernel* kernel = argc == 3 ? marquill::runnable_kernel(argv[2]) : &marquill::best_kernel();
    if (kernel == nullptr) {
        std::fprintf(stderr, "core_lines: no runnable kernel %s\n", argv[2]);
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    std::vector<StrUnits> lines;
    for (std::string line; std::getline(file, line);) lines.emplace_back(line);
    size_t tags = 0;
    for (const StrUnits& line : lines) tags += parse_line(line, *kernel);
    std::printf("%s: %zu lines, %zu tags\n", kernel->name, lines.size(), tags);
    return 0;
}
