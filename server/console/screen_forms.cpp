// Telnet screen forms: fields loaded from small definition files and drawn
// with cursor positioning.
#include <array>

#include "server/core/record_file.h"
#include "server/core/server.h"
#include "server/core/text_fields.h"

namespace tellarium {
namespace {

constexpr std::array<const char*, 8> kFormFiles = {"statid.ans",  "acscfg.ans",   "allowed.ans", "channel.ans",
                                                   "ports.ans",   "useredit.ans", "mslot.ans",   "lineedit.ans"};

constexpr std::string_view kClearScreen = "\x1B[2J";

// Cuts the text before the next comma (all of it when none is left).
std::string_view CutAtComma(std::string_view& rest) {
  const std::size_t comma = rest.find(',');
  const std::string_view value = rest.substr(0, comma);
  rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
  return value;
}

// "row,column,number,text"; the text may hold commas of its own.
ScreenField ParseField(std::string_view line) {
  ScreenField field;
  field.row = ToInt16(LeadingNumber(CutAtComma(line)));
  field.column = ToInt16(LeadingNumber(CutAtComma(line)));
  field.number = ToInt16(LeadingNumber(CutAtComma(line)));
  field.text = std::string(line);
  field.length = ToInt16(static_cast<int64_t>(field.text.size()));
  return field;
}

std::string CursorTo(int16_t row, int16_t column) {
  return "\x1B[" + std::to_string(row) + ";" + std::to_string(column) + "H";
}

ScreenForm& FormAt(ServerTables& tables, int line) {
  if (line < 0 || line >= kScreenFormLines) Raise(ErrorNumber::kSubscriptOutOfRange);
  return tables.screenForms[static_cast<std::size_t>(line)];
}

void ReadFormFields(TextFileReader& reader, ScreenForm& form, int16_t& count) {
  while (std::optional<std::string> line = reader.NextLine()) {
    if (line->find(',') == std::string::npos) return;
    if (count >= kScreenFormFields) Raise(ErrorNumber::kSubscriptOutOfRange);
    form[static_cast<std::size_t>(count)] = ParseField(*line);
    ++count;
  }
}

}  // namespace

// A missing file leaves the form as it was. The form has room for 25 fields:
// the 26th field line fails and ends the reading, the fields before it stay.
int16_t Server::SysScreenFile(const std::string& fname, int16_t lne) {
  int16_t count = 0;
  Trap("SysScreenFile")([&] {
    ScreenForm& form = FormAt(*this, lne);
    TextFileReader reader(fname);
    ReadFormFields(reader, form, count);
  });
  return count;
}

void Server::SysTelScrn(int16_t md, int16_t line) {
  Trap("SysTelScrn")([&] {
    if (md < 0 || md >= static_cast<int16_t>(kFormFiles.size())) return;
    const int16_t count = SysScreenFile(kFormFiles[static_cast<std::size_t>(md)], line);
    LineAt(line).screenFieldCount = count;
  });
}

// Each piece goes out on the connection as one send of its own.
void Server::SysTelDisp(int16_t line) {
  const ErrorTrap trap = Trap("SysTelDisp");
  trap([&] { SendDirect(line, std::string(kClearScreen)); });
  int16_t count = 0;
  trap([&] { count = LineAt(line).screenFieldCount; });
  for (int16_t k = 0; k < count; ++k) {
    trap([&] {
      if (k >= kScreenFormFields) Raise(ErrorNumber::kSubscriptOutOfRange);
      const ScreenField& field = FormAt(*this, line)[static_cast<std::size_t>(k)];
      SendDirect(line, CursorTo(field.row, field.column) + std::string(Trim(field.text)));
    });
  }
}

// `pos` is accepted and not used.
void Server::SysTelOperate(int16_t line, int16_t /*pos*/) {
  Trap("SysTelOperate")([&] { workText = CursorTo(FormAt(*this, line)[0].row, 2); });
}

}  // namespace tellarium
