// Scenarios: the station binary on the wire, as text files of steps.
//
//   define P = -=> QVS-00:\s          a named text, used as {P}; "{$}" in it
//                                     takes the argument of {NAME arg}
//   scenario A guest logs in          starts a scenario; setup steps follow:
//     lines 3                         maxLines of config.qvs (default 7)
//     member 001 Max secret level=1 flags=0,1 mail=2
//     packet \x016|60|...             a configuration packet applied to config.qvs
//     write mainmenu.qvs = Menu\r\n   a file in the station's directory, or its
//     write user003.qvs @8192 = ...   bytes from an offset on (after start: at once)
//     env TELLARIUM_FAULT_COMMAND=X   in the station's environment
//     clock x60                       the station's clock runs 60 times as fast ("clock
//                                     stopped": it stands still)
//     start                           then the steps on the wire:
//     A calls main                    caller A connects to the main ports (or line0)
//     A prompted 3                    A is greeted on line 3 (0: line #0) and at the prompt
//     A guest 3 / A member 3 001pw    ... and logs in, read up to its own announcement
//     A link 3 010pw                  ... logs in to a link account
//     A > \r\n                        A sends
//     A < Press <ENTER> To Login.\r\n A reads exactly these bytes next
//     A,B skips to -->                A and B each read up to and including these bytes
//     A > \r\n -> {PROMPT}            A sends, then reads the answer ("-> ...": skips to it)
//     A asks /T2 -> {SAYS Done.}      ... sends "/T2" and CR, then reads the answer
//     A quiet                         A reads nothing for a moment
//     A closed                        the station hangs up on A, with nothing more
//     A hangs up
//     wait 31                         station seconds pass
//     file user001.qvs @292 = {i16 4} a data file's bytes at an offset
//     file lastcalls.qvs size 610
//     log {DAY} {HM} ?:N/A - Logged off.   whole lines of the system log, in a row
//     errors = Routine: ...           error.log, whole ("errors =" alone: none)
//     console < Loading...\r\n        the station's standard output (a pipe), as
//     console skips to ...            for a caller
//     signal USR1                     a signal to the station (USR1, INT, HUP, TERM)
//     exits 0                         the station ends by itself with this status
//     peer A member 1 001pw           any step, run against a second station
//                                     ("{PEERPORT}" in a send: its main port)
//
// Bytes are written as expected_bytes.h says.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace tellarium::scenario {

struct Step {
  int line = 0;          // in the scenario file
  std::string actor;     // a caller's name, or empty
  std::string verb;      // "calls", ">", "<", "file", "member", ...
  std::string argument;  // the rest, with defined names put in
  bool peer = false;     // runs against the second station
};

struct Scenario {
  std::string file;
  int line = 0;
  std::string title;
  std::vector<Step> steps;
};

// Names the scenario in test reports.
inline void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.file << ":" << scenario.line; }

// Every scenario of the directory's .scn files, defines of "common.scn" first.
std::vector<Scenario> LoadScenarios(const std::filesystem::path& directory);

// Runs the scenario against the binary; failures are reported to the test.
void Run(const Scenario& scenario, const std::string& binary);

}  // namespace tellarium::scenario
