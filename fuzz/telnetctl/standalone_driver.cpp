// Runs the fuzz entry point over each file named, or over standard input,
// where no fuzzing engine is available.
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static void RunOne(std::istream& in) {
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

int main(int argc, char** argv) {
  if (argc < 2) RunOne(std::cin);
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) return (std::cerr << "cannot read " << argv[i] << "\n"), 1;
    RunOne(in);
  }
  return 0;
}
