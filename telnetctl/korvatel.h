// Korvanet TELNET Control: what a host needs to create and drive the control.
// The host holds each control as a platform::Component and calls its members
// by the dispatch ids below; the ids, types, defaults and events are a contract.
#pragma once

#include <cstdint>

#include "platform/automation.h"

// Creates a new control (state closed, default properties). The host owns it
// and destroys it with delete.
extern "C" platform::Component* KorvatelCreateControl();

namespace tntlib {

inline constexpr const char* kLibraryHelp = "Korvanet TELNET Control";
inline constexpr int kVersionMajor = 4;
inline constexpr int kVersionMinor = 0;
inline constexpr const char* kProgId = "Korvanet.TELNET";
inline constexpr const char* kTypeName = "Korvanet Telnet Control";

// A constant with its type-library help string.
struct Constant {
  const char* name;
  int32_t value;
  const char* help;
};

enum StateConstants : int16_t {
  tntClosed = 1,
  tntConnecting = 2,
  tntConnected = 4,
  tntListening = 8,
  tntClosing = 16,
};

inline constexpr Constant kStateConstants[] = {
    {"tntClosed", tntClosed, "Closed session (steady state)."},
    {"tntConnecting", tntConnecting, "In process of initializing session (transitional state)."},
    {"tntConnected", tntConnected, "Session is operating (steady state)."},
    {"tntListening", tntListening, "Session is listening for a connection (steady state)."},
    {"tntClosing", tntClosing, "In process of closing session (transitional state)."},
};

enum ExceptionConstants : int16_t {
  tntOk = 0,
  tntHardware = 1,
  tntProtocol = 2,
  tntBadname = 3,
  tntConnRefused = 4,
  tntNoRoute = 5,
  tntNoHost = 6,
  tntNoMem = 7,
  tntAddrInUse = 8,
  tntNotConnected = 9,
  tntNoResource = 10,
  tntNotAccepted = 11,
  tntSoftware = 12,
  tntRemoteClose = 13,
  tntWarning = 14,
  tntError = 15,
  tntInUse = 22,
};
// Raised when the socket library cannot be had; it has no name in the library.
inline constexpr int16_t kLibraryLoadFailure = 23;

inline constexpr Constant kExceptionConstants[] = {
    {"tntOk", tntOk, "OK - check ErrorDesc parameter in OnException event."},
    {"tntHardware", tntHardware, "Hardware failure."},
    {"tntProtocol", tntProtocol, "Protocol software failure."},
    {"tntBadname", tntBadname, "Name of host cannot be resolved to address."},
    {"tntConnRefused", tntConnRefused, "Connection to remote host refused - remote host is not listening."},
    {"tntNoRoute", tntNoRoute, "No route to host (check network part of address)."},
    {"tntNoHost", tntNoHost, "Remote host is not available (check host part of address)."},
    {"tntNoMem", tntNoMem,
     "Insufficient local resources to allocate resources, accept buffer or create channel."},
    {"tntAddrInUse", tntAddrInUse, "Address/port in use.  Could indicate a corrupted transport layer."},
    {"tntNotConnected", tntNotConnected, "Attempt made to use a session that is not in the connected state."},
    {"tntNoResource", tntNoResource, "Insufficient resources on remote host."},
    {"tntNotAccepted", tntNotAccepted, ""},
    {"tntSoftware", tntSoftware, "General software error."},
    {"tntRemoteClose", tntRemoteClose, "Remote host reset or closed connection."},
    {"tntWarning", tntWarning, "General warning.  Not currently used."},
    {"tntError", tntError, "General error."},
    {"tntInUse", tntInUse, "Attempt made to open a session that is already in use."},
};

inline constexpr const char* kCommandConstantsHelp =
    "Possible values for the Command parameter in calls to the SendCmd method and OnCmd event";

enum CommandConstants : int16_t {
  tntEOF = 236,
  tntSUSP = 237,
  tntABORT = 238,
  tntEOR = 239,
  tntSE = 240,
  tntNOP = 241,
  tntDM = 242,
  tntBRK = 243,
  tntIP = 244,
  tntAO = 245,
  tntAYT = 246,
  tntEC = 247,
  tntEL = 248,
  tntGA = 249,
  tntSB = 250,
  tntWILL = 251,
  tntWONT = 252,
  tntDO = 253,
  tntDONT = 254,
  tntIAC = 255,
};

enum OptionConstants : int16_t {
  tntEcho = 1,                    // RFC 857
  tntSuppressGoAhead = 3,         // RFC 858
  tntStatus = 5,                  // RFC 859
  tntTimingMark = 6,              // RFC 860
  tntTerminalType = 24,           // RFC 1091
  tntWindowSize = 31,             // RFC 1073
  tntTerminalSpeed = 32,          // RFC 1079
  tntRemoteFlowControl = 33,      // RFC 1372
  tntLineMode = 34,               // RFC 1184
  tntEnvironmentVariables = 36,   // RFC 1408
};

// Dispatch ids of the properties and methods of _DTELNET.
enum DispId : int32_t {
  kDispDebug = 1,
  kDispNoDelay = 2,
  kDispLocalPort = 3,
  kDispRemotePort = 4,
  kDispReuseAddr = 5,
  kDispShowIcon = 6,
  kDispAutoOption = 7,
  kDispLocalDotAddr = 8,
  kDispKeepAlive = 9,
  kDispVarDataType = 10,
  kDispState = 12,
  kDispAccept = 13,
  kDispClose = 14,
  kDispConnect = 15,
  kDispListen = 16,
  kDispRecv = 17,
  kDispSendCmd = 18,
  kDispSend = 19,
  kDispAboutBox = -552,
};

// Dispatch ids of the events of _DTELNETEvents.
enum EventId : int32_t {
  kEventOnAccept = 1,
  kEventOnConnect = 2,
  kEventOnException = 3,
  kEventOnSend = 4,
  kEventOnCmd = 5,
  kEventOnListen = 6,
  kEventOnRecv = 7,
  kEventOnRecvAlt = 8,
};

// Method help strings.
inline constexpr Constant kMethodHelp[] = {
    {"Accept", kDispAccept, "Accepts a passive connection already established by a Listening Korvanet control."},
    {"Close", kDispClose, "Closes a TCP connection or listener."},
    {"Connect", kDispConnect, "Establishes an active TCP connection with a remote host."},
    {"Listen", kDispListen, "Listens on a specified local port for passive connections."},
    {"Recv", kDispRecv, "Sets the maximum size of the RecvData parameter in calls to the OnRecv event.."},
    {"SendCmd", kDispSendCmd, "Sends a TELNET command to a remote host."},
    {"Send", kDispSend, "Sends data to a remote host."},
};

// The forms of VarDataType, as a property page lists them.
struct VarDataTypeEntry {
  const char* name;
  int32_t value;
};
inline constexpr VarDataTypeEntry kVarDataTypes[] = {
    {"String", 0},
    {"ByteArray", 1},
    {"String Alt", 2},
    {"ByteArray Alt", 3},
};

}  // namespace tntlib
