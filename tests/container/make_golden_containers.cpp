// Writes the golden container files and their manifest into a folder:
//   make_golden_containers tests/data/containers
// The files are committed; the golden test checks that this program would
// still write the same bytes.
#include <cstdio>
#include <fstream>
#include <string>

#include "container/golden_cases.h"
#include "support/test_support.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_golden_containers FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::ofstream manifest(joinPath(folder, GOLDEN_MANIFEST), std::ios::binary);
    manifest << "# name\tcode\tpassword (UTF-8 hex)\ttext (hex); written by make_golden_containers\n";
    for (const GoldenCase& c : goldenCases()) {
        writeBytes(joinPath(folder, c.name), c.bytes);
        manifest << manifestLine(c) << "\n";
    }
    return manifest ? 0 : 1;
}
