// Writes the fuzzer's dictionary: the entries of tests/fuzz/markup.dict (the
// markup characters and UTF-8 sequences), then every keyword of the table as
// the fixed tag or opener it makes, so that a new keyword needs no entry of
// its own. Usage: fuzz_dictionary markup.dict OUTPUT
#include <cstdio>
#include <fstream>

#include "parser/keywords.hpp"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ENTRIES OUTPUT\n", argv[0]);
        return 2;
    }
    std::ifstream entries(argv[1], std::ios::binary);
    std::ofstream out(argv[2], std::ios::binary);
    if (!entries.is_open() || !(out << entries.rdbuf())) {
        std::fprintf(stderr, "%s: could not copy %s to %s\n", argv[0], argv[1], argv[2]);
        return 1;
    }
    for (const marquill::Keyword& keyword : marquill::keywords) {
        // a word is printable ASCII; a quote or a backslash is written escaped
        out << "\"[";
        for (const char c : keyword.word) {
            if (c == '"' || c == '\\') out << '\\';
            out << c;
        }
        out << (keyword.opener ? " " : "]") << "\"\n";
    }
    if (!out.flush()) {
        std::fprintf(stderr, "%s: could not write %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
