#pragma once

// A program run as a child with its output on pipes, for the tests and benchmarks that drive the
// real executables. Every wait has a limit, so a child that hangs fails a test instead of
// hanging it, and a child still running when its owner goes is killed by its pid.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace zq::test {

class ChildProcess {
  public:
    using Clock = std::chrono::steady_clock;

    // Standard output is always captured; standard error only when asked, otherwise it stays
    // the caller's so that a child's complaints show in the test log.
    ChildProcess(const std::string& program, std::vector<std::string> args, bool captureErr)
        : started_(Clock::now()) {
        args.insert(args.begin(), program);
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        int out[2] = {-1, -1};
        int err[2] = {-1, -1};
        // Close-on-exec on every end: a second child must not hold the first one's pipes, or
        // the first one's end of file would wait for the second to exit.
        if (::pipe2(out, O_CLOEXEC) != 0 || (captureErr && ::pipe2(err, O_CLOEXEC) != 0)) {
            closeAll({out[0], out[1], err[0], err[1]});
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        if (captureErr) {
            posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        }
        started_ = Clock::now();
        if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        closeAll({out[1], err[1]});
        out_.fd = out[0];
        err_.fd = err[0];
        // Without a pidfd (an old kernel) the exit is found by looking every few milliseconds.
        // The system call rather than the wrapper: some C libraries declare it without C linkage.
        exitWatch_ = pid_ > 0 ? static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)) : -1;
    }

    ~ChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        closeAll({out_.fd, err_.fd, exitWatch_});
    }

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0 || ended_; }
    bool running() const { return pid_ > 0; }

    // The next line of standard output, without its line break; nothing when no whole line came
    // within `limit`.
    std::optional<std::string> readLine(std::chrono::milliseconds limit) {
        const Clock::time_point deadline = Clock::now() + limit;
        for (;;) {
            const std::size_t end = out_.text.find('\n', lineStart_);
            if (end != std::string::npos) {
                std::string line = out_.text.substr(lineStart_, end - lineStart_);
                lineStart_ = end + 1;
                return line;
            }
            if (out_.fd < 0 || Clock::now() >= deadline) {
                return std::nullopt;
            }
            pump(deadline);
        }
    }

    // The exit status, or nothing when the child did not exit normally within `limit` (it is
    // then left running). All its output has been collected once this returns a status.
    std::optional<int> waitForExit(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        const Clock::time_point deadline = Clock::now() + limit;
        while (pid_ > 0) {
            if (reap()) {
                break;
            }
            if (Clock::now() >= deadline) {
                return std::nullopt;
            }
            pump(deadline);
        }
        if (!ended_) {
            return std::nullopt;
        }
        // The child is gone, so unless it left a process of its own holding them, the pipes are
        // at end of file.
        const Clock::time_point drained =
            std::max(deadline, Clock::now() + std::chrono::seconds(1));
        while ((out_.fd >= 0 || err_.fd >= 0) && Clock::now() < drained) {
            pump(drained);
        }
        return WIFEXITED(status_) ? std::optional<int>(WEXITSTATUS(status_)) : std::nullopt;
    }

    // Asks the child to end (SIGTERM) and waits for it.
    std::optional<int> stop(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
        }
        return waitForExit(limit);
    }

    const std::string& out() const { return out_.text; }
    const std::string& err() const { return err_.text; }
    // From the spawn to the moment the exit was seen; meaningful once the child has ended.
    Clock::duration runTime() const { return endedAt_ - started_; }
    // What the kernel counted for the child, its CPU time and peak memory; filled at its exit.
    const rusage& usage() const { return usage_; }

  private:
    struct Pipe {
        int fd = -1;
        std::string text;
    };

    static void closeAll(std::initializer_list<int> fds) {
        for (const int fd : fds) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    bool reap() {
        int status = 0;
        rusage usage{};
        if (::wait4(pid_, &status, WNOHANG, &usage) != pid_) {
            return false;
        }
        endedAt_ = Clock::now();
        pid_ = -1;
        ended_ = true;
        status_ = status;
        usage_ = usage;
        return true;
    }

    // Takes in what the pipes hold, waiting until `until` at most for something to happen: output,
    // end of file, or the child's exit.
    void pump(Clock::time_point until) {
        using std::chrono::milliseconds;
        pollfd fds[3] = {{out_.fd, POLLIN, 0}, {err_.fd, POLLIN, 0}, {-1, POLLIN, 0}};
        if (pid_ > 0) {
            fds[2].fd = exitWatch_;
        }
        auto wait =
            std::chrono::duration_cast<milliseconds>(until - Clock::now()) + milliseconds(1);
        if (pid_ > 0 && exitWatch_ < 0) {
            wait = std::min(wait, milliseconds(5));
        }
        const int ready = ::poll(fds, 3, static_cast<int>(std::max(wait, milliseconds(0)).count()));
        if (ready <= 0) {
            return;
        }
        for (Pipe* pipe : {&out_, &err_}) {
            pollfd& p = pipe == &out_ ? fds[0] : fds[1];
            if ((p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t got = ::read(pipe->fd, buffer, sizeof buffer);
            if (got > 0) {
                pipe->text.append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                ::close(pipe->fd);
                pipe->fd = -1;
            }
        }
    }

    pid_t pid_ = -1;
    int exitWatch_ = -1;
    Pipe out_;
    Pipe err_;
    std::size_t lineStart_ = 0;
    bool ended_ = false;
    int status_ = 0;
    rusage usage_{};
    Clock::time_point started_;
    Clock::time_point endedAt_;
};

}  // namespace zq::test
