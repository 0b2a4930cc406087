#include "web/settings.h"

#include <algorithm>
#include <charconv>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string_view>

namespace tellarium::web {
namespace {

// Each call holds two descriptors; the gateway raises its open-file limit as far as it may.
constexpr size_t kMostCallsAllowed = 4096;
constexpr uint16_t kHighestPort = 65535;

struct Option {
  std::string_view name, value, fallback, help;
};

constexpr Option kOptions[] = {
    {"listen", "ADDRESS", "0.0.0.0", "the address the page and its WebSocket are served on"},
    {"port", "N", "8080", "the port they are served on"},
    {"station", "HOST", "127.0.0.1", "the station's address"},
    {"station-port", "N", "23", "the station's main port"},
    {"source", "ADDRESS", "", "the address station connections come from (the station's proxy_from)"},
    {"title", "TEXT", "Tellarium", "the page's title, the station's name to callers"},
    {"max-calls", "N", "100", "the most WebSockets at once"},
    {"origin", "ORIGIN", "", "a site whose pages may call, as scheme://host[:port]; repeatable, * for any "
                             "(the page's own host)"},
};

constexpr size_t kHelpColumn = 20;

const Option* Find(std::string_view name) {
  const auto found = std::ranges::find(kOptions, name, &Option::name);
  return found == std::end(kOptions) ? nullptr : found;
}

void PrintHelp() {
  std::cout << "Usage: tellarium-web [--OPTION VALUE]...\n"
               "Serves a terminal page whose WebSocket calls the station over telnet.\n\n";
  for (const Option& option : kOptions) {
    const std::string usage = "  --" + std::string(option.name) + " " + std::string(option.value);
    std::cout << usage << std::string(kHelpColumn - usage.size(), ' ') << option.help
              << (option.fallback.empty() ? "" : " (" + std::string(option.fallback) + ")") << "\n";
  }
}

using Given = std::map<std::string_view, std::vector<std::string_view>>;

Given GivenOptions(std::span<const char* const> arguments) {
  Given given;
  for (size_t at = 0; at < arguments.size(); ++at) {
    const std::string_view argument = arguments[at];
    const Option* option = argument.starts_with("--") ? Find(argument.substr(2)) : nullptr;
    if (option == nullptr) throw std::invalid_argument("unknown option " + std::string(argument) + ", see --help");
    if (at + 1 == arguments.size()) throw std::invalid_argument(std::string(argument) + " needs a value");
    given[option->name].push_back(arguments[++at]);
  }
  return given;
}

// The value last given for an option, or its default.
std::string_view Last(const Given& given, std::string_view name) {
  const auto found = given.find(name);
  return found != given.end() ? found->second.back() : Find(name)->fallback;
}

size_t Number(const Given& given, std::string_view name, size_t lowest, size_t highest) {
  const std::string_view text = Last(given, name);
  size_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || number < lowest || number > highest) {
    throw std::invalid_argument("--" + std::string(name) + " must be a number from " + std::to_string(lowest) +
                                " to " + std::to_string(highest) + ", not \"" + std::string(text) + "\"");
  }
  return number;
}

boost::asio::ip::address Address(const Given& given, std::string_view name) {
  const std::string text(Last(given, name));
  boost::system::error_code error;
  const auto address = boost::asio::ip::make_address(text, error);
  if (error) throw std::invalid_argument("--" + std::string(name) + " must be an IP address, not \"" + text + "\"");
  return address;
}

}  // namespace

std::optional<Settings> ReadSettings(std::span<const char* const> arguments) {
  if (std::ranges::any_of(arguments, [](std::string_view argument) { return argument == "--help"; })) {
    PrintHelp();
    return std::nullopt;
  }
  const Given given = GivenOptions(arguments);
  Settings settings;
  settings.listen_address = Address(given, "listen");
  settings.listen_port = static_cast<uint16_t>(Number(given, "port", 1, kHighestPort));
  settings.station_host = Last(given, "station");
  settings.station_port = static_cast<uint16_t>(Number(given, "station-port", 1, kHighestPort));
  if (!Last(given, "source").empty()) settings.source_address = Address(given, "source");
  settings.title = Last(given, "title");
  if (settings.title.empty()) throw std::invalid_argument("--title must not be empty");
  settings.max_calls = Number(given, "max-calls", 1, kMostCallsAllowed);
  if (const auto origins = given.find("origin"); origins != given.end()) {
    settings.origins.assign(origins->second.begin(), origins->second.end());
  }
  return settings;
}

}  // namespace tellarium::web
