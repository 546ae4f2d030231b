#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/cli/run_printer.h"
#include "app/records/record_log.h"
#include "station/station.h"
#include "station/station_observer.h"

namespace zq::cli {

// A run's boards as the command line shows them: each board's boxes with their reasons, its
// progress, its tries and its result line, and the record added to the log. Renders only: what
// happened is the station's to decide.
class StationPrinter final : public station::StationObserver {
  public:
    struct Options {
        bool json = false;
        bool quiet = false;
        bool watching = false;  // boards come as plugged: each is announced and given a line
        unsigned tries = 1;     // of a board at most
    };
    StationPrinter(RunPrinter& output, RecordLog* log, Options options);

    void boardStarted(const station::BoardView& board) override;
    void tryStarting(const station::BoardView& board, unsigned tryNumber,
                     unsigned latencyMs) override;
    void box(const station::BoardView& board, BoxStyle style, std::string_view text,
             const Outcome& outcome, bool unowned) override;
    void flashChose(const station::BoardView& board, const Outcome& outcome) override;
    void stage(const station::BoardView& board, OperationStage stage) override;
    void range(const station::BoardView& board, std::uint32_t maximum) override;
    void position(const station::BoardView& board, std::uint32_t position) override;
    void programming(const station::BoardView& board, std::chrono::milliseconds elapsed) override;
    bool countsDown() const override { return output_.showsCountdown(); }
    void signalHeldOff(const station::BoardView& board) override;
    void trace(const station::BoardView& board, std::string_view line) override;
    void tryEnded(const station::BoardView& board, const station::Try& ended,
                  std::optional<std::chrono::milliseconds> retryIn) override;
    void boardEnded(const station::BoardRecord& record) override;
    void portHeld(const station::Fixture& fixture, const OpenFailure& why) override;

    // A board that did not succeed, as the summary names it; in the order the boards came.
    struct Unsucceeded {
        std::uint64_t number;  // the order it came in
        std::string port;
        std::string fixture;  // where it differs from the port
        station::BoardEnd end;
        int exit;
        int signal;
        std::string reason;  // its first line
    };
    std::vector<Unsucceeded> notSucceeded() const;
    static constexpr std::size_t NamedAtMost = 1000;

  private:
    std::size_t indexOf(std::uint64_t number);

    RunPrinter& output_;
    RecordLog* log_;  // null without --log
    Options options_;
    mutable std::mutex lock_;
    std::map<std::uint64_t, std::size_t> lines_;  // a board in flight's line in the output
    std::vector<Unsucceeded> notSucceeded_;
    // For the counts line: boards by how they ended, and those in flight.
    std::map<station::BoardEnd, std::uint64_t> ended_;
    std::uint64_t running_ = 0;
    void showCountsLocked();
};

// The summary of a run of several boards: how many succeeded, then each board that did not, in
// plain words, or as one JSON object.
std::string summaryText(const station::StationTally& tally,
                        const std::vector<StationPrinter::Unsucceeded>& boards);
std::string summaryJson(const station::StationTally& tally,
                        const std::vector<StationPrinter::Unsucceeded>& boards);

}  // namespace zq::cli
