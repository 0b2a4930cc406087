// The data file layer: files opened by bare name in the working directory,
// read or written one fixed-length record at a time and closed at once.
// Failures raise run-time errors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

namespace tellarium {

// A file of fixed-size record slots; record n (from 1) starts at (n-1)*recordLength.
struct DataFile {
  std::string name;
  std::size_t recordLength;
};

// True when a regular file of that name exists.
bool FileExists(const std::string& name);

// The bytes of record n. A file that ends inside (or before) the record gives
// fewer bytes; a missing file gives none and is not created.
std::string ReadRecord(const DataFile& file, int32_t record);

// Writes `data` from the start of record n, creating the file when needed. The
// rest of the slot is left as it is.
void WriteRecord(const DataFile& file, int32_t record, std::string_view data);

// Writes `text` as the whole of the file: beside it first, then in its place,
// so that a reader, or a process ended meanwhile, never finds it half written.
void ReplaceFile(const std::string& name, std::string_view text);

// Reads a text file line by line; a line ends at LF or CR LF, and the last
// line needs no line end.
class TextFileReader {
 public:
  explicit TextFileReader(const std::string& name);
  // The next line without its line end, or nothing at the end of the file.
  std::optional<std::string> NextLine();

 private:
  std::ifstream in_;
};

}  // namespace tellarium
