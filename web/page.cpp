#include "web/page.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tellarium::web {
namespace {

constexpr std::string_view kTitlePlaceholder = "@TITLE@";

struct Served {
  std::string_view target, file, content_type;
  bool titled = false;
};

constexpr Served kServed[] = {
    {"/", "index.html", "text/html; charset=utf-8", true},
    {"/terminal.js", "terminal.js", "text/javascript; charset=utf-8"},
    {"/xterm.js", "xterm.js", "text/javascript; charset=utf-8"},
    {"/xterm.css", "xterm.css", "text/css; charset=utf-8"},
};

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  if (!(bytes << file.rdbuf())) throw std::runtime_error("cannot read the page's file " + path.string());
  return bytes.str();
}

std::string HtmlEscaped(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

void ReplaceAll(std::string& text, std::string_view placeholder, std::string_view value) {
  for (size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at + value.size())) {
    text.replace(at, placeholder.size(), value);
  }
}

}  // namespace

Page::Page(const std::filesystem::path& folder, std::string_view title) {
  for (const Served& served : kServed) {
    std::string body = ReadFile(folder / served.file);
    if (served.titled) ReplaceAll(body, kTitlePlaceholder, HtmlEscaped(title));
    files_.emplace(served.target, PageFile{served.content_type, std::move(body)});
  }
}

const PageFile* Page::Find(std::string_view target) const {
  const auto found = files_.find(target.substr(0, target.find('?')));
  return found == files_.end() ? nullptr : &found->second;
}

std::filesystem::path Page::InstalledFolder() {
  return std::filesystem::canonical("/proc/self/exe").parent_path() / TELLARIUM_WEB_PAGE_FROM_PROGRAM;
}

}  // namespace tellarium::web
