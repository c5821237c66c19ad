// Runs a fuzz entry point once over each file named on the command line, as libFuzzer
// would replay a saved input: a crash, a sanitizer report or an abort fails the run. A
// folder stands for every file in it, in name order (a whole corpus in one run).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

// The files an argument names; false when it names nothing readable.
bool AddInputs(const fs::path& argument, std::vector<fs::path>& inputs) {
  std::error_code error;
  if (!fs::is_directory(argument, error)) {
    inputs.push_back(argument);
    return true;
  }
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(argument, error)) {
    if (!entry.is_directory(error)) files.push_back(entry.path());
  }
  if (error) return false;
  std::sort(files.begin(), files.end());
  inputs.insert(inputs.end(), files.begin(), files.end());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s INPUT|FOLDER...\n", argv[0]);
    return 2;
  }
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!AddInputs(argv[i], inputs)) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 2;
    }
  }
  for (const fs::path& input : inputs) {
    std::ifstream in(input, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", input.c_str());
      return 2;
    }
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
    // Named before it runs, so that a crash report follows the name of its input.
    std::printf("%s: %zu bytes\n", input.c_str(), bytes.size());
    std::fflush(stdout);
    // An empty input still gets a valid pointer, as libFuzzer gives one.
    static const uint8_t kNothing = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &kNothing : bytes.data(), bytes.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return 0;
}
