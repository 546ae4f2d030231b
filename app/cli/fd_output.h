#pragma once

#include <atomic>
#include <streambuf>

namespace zq::cli {

// The program's standard output or error, written to its descriptor. SIGPIPE is ignored, so a
// reader that has gone away shows as EPIPE: that counts as the signal for the run (the transfers
// stop and hand their ports back; a board programming its EEPROM finishes first), once for the
// process however many streams break, and nothing more is written to the stream. Any other failed
// write drops the stream's output too, as the standard streams would; the stream then reports
// itself bad, so that what mattered can go to the other one.
class FdOutput : public std::streambuf {
  public:
    explicit FdOutput(int fd);
    ~FdOutput() override;
    FdOutput(const FdOutput&) = delete;
    FdOutput& operator=(const FdOutput&) = delete;

    // Why the stream's output was dropped (the errno of the write that failed); 0 while it works.
    int failure() const { return failure_.load(); }

  protected:
    int_type overflow(int_type c) override;
    int sync() override;

  private:
    // Writes out what is held; false once the stream's output is dropped.
    bool drain();

    int fd_;
    char buffer_[4096];
    bool dropping_ = false;
    std::atomic<int> failure_{0};
};

}  // namespace zq::cli
