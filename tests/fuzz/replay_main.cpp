// Runs a fuzz target once on each input file named on the command line, without libFuzzer: the ordinary test
// builds replay the committed corpus and regressions this way. Arguments that start with '-' are libFuzzer's
// options and are skipped.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
    LLVMFuzzerInitialize(&argc, &argv);
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-')
            continue;
        std::ifstream file(argv[i], std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        const std::vector<uint8_t> input{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        // As with libFuzzer, the data pointer is valid even for an empty input.
        static const uint8_t empty = 0;
        LLVMFuzzerTestOneInput(input.empty() ? &empty : input.data(), input.size());
        ++replayed;
    }
    std::printf("replayed %d inputs\n", replayed);
    return 0;
}
