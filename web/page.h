// The files of the caller's page, read once at start from the folder they
// are installed in, the page's title written into it.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace tellarium::web {

struct PageFile {
  std::string_view content_type;
  std::string body;
};

class Page {
 public:
  // Throws std::runtime_error naming a file that cannot be read.
  Page(const std::filesystem::path& folder, std::string_view title);

  // The file a request target names, or none.
  const PageFile* Find(std::string_view target) const;

  // The folder beside the running program's where its page is installed.
  static std::filesystem::path InstalledFolder();

 private:
  std::map<std::string, PageFile, std::less<>> files_;
};

}  // namespace tellarium::web
