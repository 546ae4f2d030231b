#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/sim/sim_options.h"
#include "serial/virtual_boards.h"
#include "sim/board_model.h"

namespace zq::sim {

// The board model on the master side of a pseudo-terminal, in real time: the host opens the slave
// side as its serial port.
class PtyBoard {
  public:
    explicit PtyBoard(SimOptions options);
    ~PtyBoard();
    PtyBoard(const PtyBoard&) = delete;
    PtyBoard& operator=(const PtyBoard&) = delete;

    // Creates the pseudo-terminal and the link; on failure `error` says why.
    bool open(std::string& error);
    const std::string& devicePath() const { return slavePath_; }
    // The line that names the board's device, printed at each plug.
    std::string plugLine() const;
    // With several boards in one process the program takes the stop signals once for all and
    // makes this descriptor readable; each board then ends its run.
    void stopWhenReadable(int fd) { stopFd_ = fd; }
    // Pulls the board now, as SIGUSR1 does; from any thread. A new board follows after the gap.
    void pullNow();

    // Serves the host until a stop signal, a dropped line or the operation count ends the run;
    // returns the exit status.
    int run();

  private:
    SimTime elapsed() const;
    void log(SimTime at, const std::string& text) const;
    void takeDue(SimTime now);
    void writePending();
    void readHost();
    void readSessionEvents();
    void sessionEnded();
    void clearLeftExclusive();
    void dropLine();
    bool plug(std::string& error);
    bool plugNext();
    void pull();
    // Whether the board plugged now is one that an operator pulls while it programs, or once
    // the host has let go of it after programming.
    bool pulledWhileProgramming() const;
    bool pulledAfterProgramming() const;
    int imagesProgrammed() const { return programmedEarlier_ + board_.imagesProgrammed(); }
    bool placeLink(std::string& error);
    void removeLink();
    void announce();
    void closeAll();

    SimOptions options_;
    BoardModel board_;
    std::chrono::steady_clock::time_point start_;
    int master_ = -1;
    int slave_ = -1;    // our own, so the line stays up between the host's sessions
    int signals_ = -1;  // signalfd for the stop signals
    int stopFd_ = -1;   // not ours: replaces the signalfd when set
    int pulls_ = -1;    // eventfd: pulls asked for by pullNow()
    int watch_ = -1;    // inotify on the slave device: the host's opens and closes
    std::string slavePath_;
    bool linked_ = false;
    BoardAnnouncement announcement_;  // so that the front ends list the board while it serves
    BoardMode announcedMode_ = BoardMode::Download;
    int hostOpens_ = 0;
    bool finished_ = false;
    SimTime masterPausedUntil_{0};
    std::vector<std::uint8_t> pending_;  // due reply bytes the master has not taken yet
    int plugged_ = 0;                    // boards plugged into the link so far, this one too
    int programmedEarlier_ = 0;          // images the boards pulled from the link programmed
    std::optional<SimTime> pullAt_;
    bool pulledByHand_ = false;
    std::optional<SimTime> plugAt_;  // set while the link is empty
};

// The name the board's log gives a stopping signal.
const char* signalName(int number);

}  // namespace zq::sim
