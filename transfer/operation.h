#pragma once

#include <cstdint>
#include <string>

#include "job/transfer_job.h"
#include "owner/owner_window.h"
#include "serial/platform.h"
#include "serial/port_state.h"
#include "transfer/outcome.h"

namespace zq {

// Fills the job as the window's Download and Update buttons do, with the built-in image.
void fillJob(TransferJob& job, TransferMode mode, const std::string& portName);

// Runs the operation the job's mode names: Download is the download phase followed at once by
// the update phase; Update is the update phase alone.
bool runOperation(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar,
                  PortState& port, Outcome& outcome);
bool runOperation(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar,
                  PortState& port);

// Flash: probes the board's mode with one handshake, on the line as both phases set it up, and
// runs the operation that mode calls for (Download for a silent board, Update for one that
// answers), the probe standing as that operation's own handshake, so the wire is exactly that
// operation's. A board that sent bytes without making a handshake gets the Update's failure,
// never the loader. The job's mode ends as the operation chosen.
bool runFlash(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar, PortState& port,
              Outcome& outcome);

// The image checks of every phase the operation of `mode` runs (a Download's both, an Update's
// one), made before any port is touched, as flash makes them for both before it probes: a
// refused image has shown its box, and the outcome says why, with the lengths compared.
bool checkImage(OwnerWindow& window, TransferJob& job, TransferMode mode, Outcome& outcome);

// Whether the firmware of a board answers a short handshake on the port: opened and set up as
// for an Update, a few Syncs, then handed back; no box is shown. A board in download mode says
// nothing until it is loaded, so it is not found this way. `opened`, when given, says why the
// port could not be opened (kind None when it was).
bool probeBoard(Platform& platform, const std::string& portName, OpenFailure* opened = nullptr);

// Lets go of a port that is still held: the settings found at open are put back, the port is
// closed and its timer request ended. When the close fails its box is shown, the request is
// ended all the same and the handle dropped, so nothing outlives a window that is going away.
void releaseHeldPort(OwnerWindow& window, PortState& port);

// What one window holds across its operations: the one port and the one job. Some phases leave
// the port open for the next operation, so a window that ends must hand it back.
class WindowSession {
  public:
    explicit WindowSession(Platform& platform) : port(platform) {}

    // Runs the operation a button names on the port named. A message box of a running operation
    // lets other commands through; such a command is ignored (false) rather than started inside
    // the operation that is waiting for the box.
    bool run(OwnerWindow& window, TransferMode mode, const std::string& portName,
             ProgressTarget* progressBar);
    bool running() const { return running_; }
    // Whether the last operation that ran ended in success, so a window may remember its port.
    bool lastSucceeded() const { return lastSucceeded_; }
    // What happened in the last operation, kept up to date while it runs: the boxes it shows
    // can say why.
    const Outcome& lastOutcome() const { return lastOutcome_; }

    // The window ends. A held port is handed back at once; while an operation waits in a box the
    // settings are put back at once (the process may not outlive the request) and the port is
    // let go when the operation returns. `window` shows the close-failure box, if any.
    void end(OwnerWindow& window);
    // The same without any box, for ends that nobody is there to answer (a signal, the desktop
    // session ending): a modal box there would keep the program from ending.
    void endQuietly();
    // The process ends where it stands (its display went away), perhaps inside an operation that
    // will never return: the port is handed back now, without any box.
    void abandon();

    PortState port;
    TransferJob job;

  private:
    bool running_ = false;
    bool lastSucceeded_ = false;
    Outcome lastOutcome_{};
    bool endPending_ = false;
};

}  // namespace zq
