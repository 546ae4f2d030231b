#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "app/cli/command_line.h"
#include "serial/platform.h"

// What the command line does differently on each operating system. One source file per system,
// picked by CMake: system_posix.cpp or system_win32.cpp.
namespace zq::cli {

// Standard output and error as the real program writes them.
class ProgramOutput {
  public:
    virtual ~ProgramOutput() = default;
    virtual std::ostream& out() = 0;
    virtual std::ostream& err() = 0;
    // Writes out what is held and gives the status to exit with: on POSIX a run whose output lost
    // its reader ends as SIGPIPE would have ended it, whatever it came to otherwise.
    virtual int finish(int status) = 0;
};

// Made first thing in main: on POSIX, from here on a reader that goes away interrupts the run
// rather than killing the process (see FdOutput).
std::unique_ptr<ProgramOutput> makeProgramOutput();

// The serial backend of this system.
std::unique_ptr<Platform> makeSystemPlatform();

// The progress bar is drawn only on a terminal: in a log it would be a long run of carriage
// returns.
bool standardErrorIsTerminal();

// The help of --port.
std::string portOptionHelp();

// Has every signal that would end the process (on Windows: Ctrl+C, Ctrl+Break and the console's
// closing) interrupt the operation rather than kill it, so that the port is handed back as it was
// found. For the transfer commands of the real program only.
void installInterruptHandlers();

// Tells a console-close handler, which must hold the process until then, that the port has been
// handed back.
void markPortHandedBack();

// Blocks until `descriptor` (a plug-event descriptor) is readable, a signal interrupts the run or
// `limitMs` passes (-1: no limit).
void awaitReadableOrSignal(int descriptor, int limitMs);

}  // namespace zq::cli
