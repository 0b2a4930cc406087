// E-mail delivery: the current e-mail goes into the recipient's account file,
// and a recipient who is online is told at once.
#include <cstdint>
#include <limits>
#include <string>

#include "server/core/record_layouts.h"
#include "server/core/server.h"

namespace tellarium {
namespace {

// E-mail k is record k + 2. The sender has already counted this e-mail in
// mailStored; a count that was not raised would put it over the account
// record or the autobiography, so such a record number is refused.
void StoreEmail(const DataFile& file, int32_t mailStored, const EmailRecord& email) {
  const int64_t record = int64_t{mailStored} + kFirstEmailRecord - 1;
  if (record < kFirstEmailRecord || record > std::numeric_limits<int32_t>::max()) {
    Raise(ErrorNumber::kBadRecordNumber);
  }
  PutRecord<EmailLayout>(file, static_cast<int32_t>(record), email);
}

// Only the first line with the account is told. The count goes up before the
// notice, whose send lets other events run.
void TellMailArrived(Server& server, const std::string& account) {
  for (int16_t l = 0; l <= server.config.maxLines; ++l) {
    LineState& line = server.LineAt(l);
    if (line.account.Trimmed() != account) continue;
    if (line.mailCount == std::numeric_limits<int16_t>::max()) Raise(ErrorNumber::kOverflow);
    ++line.mailCount;
    server.send(l, kStationMode, "You have received email." + server.lineBreak);
    return;
  }
}

}  // namespace

// E-mail to an account without a file is dropped.
void Server::Esend(int16_t acc) {
  const ErrorTrap trap = Trap("Esend");
  const std::string account = afix(acc);
  const DataFile file = AccountFile(acc);
  if (!FileExists(file.name)) return;
  {
    const SharedBufferHold hold;
    trap([&] { StoreEmail(file, currentAccount.mailStored, currentEmail); });
  }
  trap([&] { TellMailArrived(*this, account); });
}

}  // namespace tellarium
