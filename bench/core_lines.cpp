// The parser core alone on a file of lines, for bench/callgrind.py to count
// the instructions of parse_line: one ParsedText built and destroyed per
// line, as parse_str does (inside the module the constructor is inlined into
// parse_str, so it cannot be counted there on its own).
//
//   core_lines FILE   prints the number of lines and of tags
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "parser/parsed_text.hpp"

#if defined(__GNUC__)
#define MARQUILL_NOINLINE __attribute__((noinline))
#else
#define MARQUILL_NOINLINE
#endif

MARQUILL_NOINLINE size_t parse_line(const std::string& line) {
    const marquill::ParsedText parsed(line.c_str(), static_cast<int64_t>(line.size()));
    return parsed.args.size();
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: core_lines FILE\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    size_t tags = 0;
    for (const std::string& line : lines) tags += parse_line(line);
    std::printf("%zu lines, %zu tags\n", lines.size(), tags);
    return 0;
}
