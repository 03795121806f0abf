// Without libFuzzer, each harness is a program that replays files through it:
//   fuzz_X [--seeds TESTDATA_DIR FORMAT[,FORMAT...]] FILE_OR_FOLDER...
// --seeds replays every file of the public test suites whose format column in manifest.tsv is
// one of the formats (all files for "all"); a missing suite folder is skipped. Folders are read
// one level deep. Every file must come back without a crash or a sanitizer report; the exit
// status is 0 when all were replayed.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

static int Replay(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return 1;
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 0;
}

// The files of the suites' manifest whose format is in the comma-separated list.
static std::vector<fs::path> Seeds(const fs::path &dir, const std::string &formats)
{
    std::vector<fs::path> files;
    std::ifstream manifest(dir / "manifest.tsv");
    std::string line;
    std::getline(manifest, line); // header: path, suite, format, ...
    while (std::getline(manifest, line)) {
        std::stringstream cells(line);
        std::string path, suite, format;
        std::getline(cells, path, '\t');
        std::getline(cells, suite, '\t');
        std::getline(cells, format, '\t');
        if (formats == "all" || ("," + formats + ",").find("," + format + ",") != std::string::npos)
            files.push_back(dir / path);
    }
    return files;
}

int main(int argc, char **argv)
{
    int replayed = 0, failed = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--seeds" && i + 2 < argc) {
            const fs::path dir = argv[i + 1];
            if (!fs::exists(dir / "manifest.tsv")) {
                std::printf("no test suites at %s: seeds skipped\n", argv[i + 1]);
                i += 2;
                continue;
            }
            // The suites are here: a format list that matches no file is a broken test, not
            // a pass.
            const std::vector<fs::path> seeds = Seeds(dir, argv[i + 2]);
            if (seeds.empty()) {
                std::printf("no seeds of format %s in %s\n", argv[i + 2], argv[i + 1]);
                return 1;
            }
            for (const fs::path &seed : seeds) {
                failed += Replay(seed);
                ++replayed;
            }
            i += 2;
            continue;
        }
        std::error_code ec;
        if (fs::is_directory(argv[i], ec)) {
            for (const auto &entry : fs::directory_iterator(argv[i], ec))
                if (entry.is_regular_file()) {
                    failed += Replay(entry.path());
                    ++replayed;
                }
        } else if (fs::exists(argv[i], ec)) {
            failed += Replay(argv[i]);
            ++replayed;
        } else {
            // git keeps no empty folders: a target without kept crash inputs has none here.
            std::printf("%s does not exist: skipped\n", argv[i]);
        }
    }
    std::printf("replayed %d inputs, %d unreadable\n", replayed, failed);
    return failed == 0 ? 0 : 1;
}
