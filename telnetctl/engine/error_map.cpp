#include "telnetctl/engine/error_map.h"

#include <cerrno>

namespace korvatel {
namespace {

struct ErrorEntry {
  int number;
  MappedError mapped;
};

constexpr ErrorEntry kErrorTable[] = {
    {10004, {2, "INTR"}},
    {10009, {12, "Invalid Descriptor Used"}},
    {10014, {2, "FAULT"}},
    {10022, {12, "Socket not bound to an address"}},
    {10024, {15, "MFILE"}},
    {10035, {0, "Would Block"}},
    {10036, {0, "Operation In Progress"}},
    {10037, {0, "Operation Already In Progress"}},
    {10038, {12, "Socket Operation on Non-Socket"}},
    {10039, {3, "Destination Address Required"}},
    {10040, {2, "Message Too Long"}},
    {10041, {12, "Protocol Wrong Type for Socket"}},
    {10042, {12, "Option Unknown or Unsupported"}},
    {10043, {12, "Protocol Not Supported"}},
    {10044, {12, "Socket Type Not Supported"}},
    {10045, {12, "Operation Not Supported on Socket"}},
    {10046, {12, "Protocol Family Not Supported"}},
    {10047, {12, "Address Family Not Supported by Protocol Family"}},
    {10048, {8, "Address Already in Use"}},
    {10049, {12, "Can't Assign Requested Address"}},
    {10050, {1, "Network is Down"}},
    {10051, {5, "Network is Unreachable"}},
    {10052, {13, "Network Dropped Connection on Reset"}},
    {10053, {13, "Connection Aborted"}},
    {10054, {13, "Connection Aborted (Reset) by Peer"}},
    {10055, {7, "Buffer Deadlock Condition"}},
    {10056, {12, "Socket is Already Connected"}},
    {10057, {9, "Socket is Not Connected"}},
    {10058, {13, "Can't Send or Recv After Shutdown"}},
    {10059, {12, "Too Many References, Cant Splice"}},
    {10060, {6, "Connection Timed Out"}},
    {10061, {4, "Connection Refused"}},
    {10062, {2, "Too Many Levels of Symbolic Links"}},
    {10063, {12, "File Name Too Long"}},
    {10064, {6, "Host is Down"}},
    {10065, {5, "No Route to Host"}},
    {10066, {12, "Directory Not Empty"}},
    {10067, {10, "Too Many Processes"}},
    {10068, {10, "Too Many Users"}},
    {10069, {10, "Disc Quota Exceeded"}},
    {10070, {12, "Stale NFS File Handle"}},
    {10071, {12, "Too Many Levels of Remote in Path"}},
    {10091, {2, "Network subsystem is not ready for network communication"}},
    {10092, {2, "Old version of WinSock API"}},
    {10093, {12, "WSA NOTINITIALISED"}},
    {11001, {3, "Authoritative Answer: Host not found"}},
    {11002, {3, "Non-Authoritative: Host not found"}},
    {11003, {2, "Non recoverable errors"}},
    {11004, {3, "Valid name, no data record of requested type"}},
};

constexpr MappedError kUndefined = {2, "Error not defined"};

// Linux errno values beside the sockets numbering's offset from 10000. EPIPE,
// ENOMEM and ENFILE have no number of their own there and take the nearest one.
struct ErrnoEntry {
  int errno_value;
  int number;
};

constexpr ErrnoEntry kErrnoTable[] = {
    {EINTR, 10004},          {EBADF, 10009},           {EFAULT, 10014},        {EINVAL, 10022},
    {EMFILE, 10024},         {ENFILE, 10024},          {EAGAIN, 10035},        {EINPROGRESS, 10036},
    {EALREADY, 10037},       {ENOTSOCK, 10038},        {EDESTADDRREQ, 10039},  {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},     {ENOPROTOOPT, 10042},     {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},     {EPFNOSUPPORT, 10046},  {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},     {EADDRNOTAVAIL, 10049},   {ENETDOWN, 10050},      {ENETUNREACH, 10051},
    {ENETRESET, 10052},      {ECONNABORTED, 10053},    {ECONNRESET, 10054},    {ENOBUFS, 10055},
    {ENOMEM, 10055},         {EISCONN, 10056},         {ENOTCONN, 10057},      {ESHUTDOWN, 10058},
    {EPIPE, 10058},          {ETOOMANYREFS, 10059},    {ETIMEDOUT, 10060},     {ECONNREFUSED, 10061},
    {ELOOP, 10062},          {ENAMETOOLONG, 10063},    {EHOSTDOWN, 10064},     {EHOSTUNREACH, 10065},
    {ENOTEMPTY, 10066},      {EUSERS, 10068},          {EDQUOT, 10069},        {ESTALE, 10070},
    {EREMOTE, 10071},
};

// The base of the numbering; no entry of the table, so it reports "Error not defined".
constexpr int kUnknownError = 10000;

}  // namespace

MappedError MapSocketError(int error_number) {
  for (const auto& entry : kErrorTable) {
    if (entry.number == error_number) return entry.mapped;
  }
  return kUndefined;
}

int SocketErrorFromErrno(int errno_value) {
  if (errno_value == EWOULDBLOCK) errno_value = EAGAIN;
  for (const auto& entry : kErrnoTable) {
    if (entry.errno_value == errno_value) return entry.number;
  }
  return kUnknownError;
}

int SocketErrorFromLookup(platform::LookupError error) {
  switch (error) {
    case platform::LookupError::kNone: return 0;
    case platform::LookupError::kNoSuchName: return 11001;
    case platform::LookupError::kTryAgain: return 11002;
    case platform::LookupError::kNoRecovery: return 11003;
    case platform::LookupError::kNoData: return 11004;
  }
  return kLookupNotStarted;
}

}  // namespace korvatel
