#pragma once

// A program run as a child with its output on pipes, for the tests and benchmarks that drive the
// real executables. Every wait has a limit, so a child that hangs fails a test instead of
// hanging it, and a child still running when its owner goes is killed by its pid.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

extern char** environ;

namespace zq::test {

class ChildProcess {
  public:
    using Clock = std::chrono::steady_clock;

    // Standard output is always captured; standard error only when asked, otherwise it stays
    // the caller's so that a child's complaints show in the test log. A pipe that cannot be made
    // leaves its stream uncaptured, which the test then notices.
    ChildProcess(const std::string& program, std::vector<std::string> args, bool captureErr) {
        args.insert(args.begin(), program);
        std::vector<char*> argv(args.size() + 1);  // ending in a null pointer
        std::transform(args.begin(), args.end(), argv.begin(), [](auto& a) { return a.data(); });
        // Close-on-exec on every end: a second child must not hold the first one's pipes, or
        // the first one's end of file would wait for the second to exit.
        int ends[2][2] = {{-1, -1}, {-1, -1}};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        for (int i = 0; i < (captureErr ? 2 : 1); ++i) {
            if (::pipe2(ends[i], O_CLOEXEC) == 0) {
                posix_spawn_file_actions_adddup2(&actions, ends[i][1], STDOUT_FILENO + i);
            }
        }
        started_ = Clock::now();
        if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        // Closing -1, where a pipe was not made, fails harmlessly.
        for (int i = 0; i < 2; ++i) {
            ::close(ends[i][1]);
            pipes_[i].fd = ends[i][0];
        }
        // Without a pidfd (an old kernel) the exit is found by looking every few milliseconds.
        // The system call rather than the wrapper: some C libraries declare it without C linkage.
        exitWatch_ = pid_ > 0 ? static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)) : -1;
    }

    // Puts the child ahead of ordinary work on a busy machine: the lowest real-time priority
    // where the user may grant it, else a better nice value, else nothing. A simulated board
    // stands for a device with a processor of its own, which never misses a 25 ms reply window
    // because the host's other programs are busy; both programs only ever wait in poll or sleep.
    // Every thread the child has by now, and those it makes later (they inherit the policy).
    void raisePriority() {
        if (pid_ <= 0) {
            return;
        }
        const sched_param lowest{.sched_priority = ::sched_get_priority_min(SCHED_RR)};
        std::error_code ec;
        for (const auto& task :
             std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/task", ec)) {
            const pid_t tid = std::stoi(task.path().filename().string());
            if (::sched_setscheduler(tid, SCHED_RR, &lowest) != 0) {
                ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), -10);
            }
        }
    }

    ~ChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (int fd : {pipes_[0].fd, pipes_[1].fd, exitWatch_}) {
            ::close(fd);
        }
    }

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of standard output, without its line break; nothing when no whole line came
    // within `limit`.
    std::optional<std::string> readLine(std::chrono::milliseconds limit) {
        const Clock::time_point deadline = Clock::now() + limit;
        for (;;) {
            const std::string& text = pipes_[0].text;
            if (const std::size_t end = text.find('\n', lineStart_); end != std::string::npos) {
                std::string line = text.substr(lineStart_, end - lineStart_);
                lineStart_ = end + 1;
                return line;
            }
            if (pipes_[0].fd < 0 || Clock::now() >= deadline) {
                return std::nullopt;
            }
            pump(deadline);
        }
    }

    // The exit status, or nothing when the child did not exit normally within `limit` (it is
    // then left running). All its output has been collected once this returns a status.
    std::optional<int> waitForExit(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        const Clock::time_point deadline = Clock::now() + limit;
        while (pid_ > 0 && !reap() && Clock::now() < deadline) {
            pump(deadline);
        }
        if (pid_ > 0 || !status_) {
            return std::nullopt;
        }
        // The child is gone, so unless it left a process of its own holding them, the pipes are
        // at end of file.
        const Clock::time_point drained =
            std::max(deadline, Clock::now() + std::chrono::seconds(1));
        while ((pipes_[0].fd >= 0 || pipes_[1].fd >= 0) && Clock::now() < drained) {
            pump(drained);
        }
        return WIFEXITED(*status_) ? std::optional<int>(WEXITSTATUS(*status_)) : std::nullopt;
    }

    // Asks the child to end (SIGTERM) and waits for it.
    std::optional<int> stop(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        signal(SIGTERM);
        return waitForExit(limit);
    }

    // Sends the child a signal, as a user's Ctrl+C or a service manager would.
    void signal(int number) {
        if (pid_ > 0) {
            ::kill(pid_, number);
        }
    }

    // The reader of the child's standard output (0) or error (1) goes away, as `| head` does:
    // what the child writes there from now on fails with EPIPE.
    void stopReading(int stream) {
        ::close(pipes_[stream].fd);
        pipes_[stream].fd = -1;
    }

    // The child's process id while it runs, for what only /proc tells of it; -1 once it ended.
    pid_t pid() const { return pid_; }
    const std::string& out() const { return pipes_[0].text; }
    const std::string& err() const { return pipes_[1].text; }
    // From the spawn to the moment the exit was seen; meaningful once the child has ended.
    Clock::duration runTime() const { return endedAt_ - started_; }
    // What the kernel counted for the child, its CPU time and peak memory; filled at its exit.
    const rusage& usage() const { return usage_; }

  private:
    struct Pipe {
        int fd = -1;
        std::string text;
    };

    bool reap() {
        int status = 0;
        if (::wait4(pid_, &status, WNOHANG, &usage_) != pid_) {
            return false;
        }
        endedAt_ = Clock::now();
        pid_ = -1;
        status_ = status;
        return true;
    }

    // Takes in what the pipes hold, waiting until `until` at most for something to happen: output,
    // end of file, or the child's exit.
    void pump(Clock::time_point until) {
        using std::chrono::milliseconds;
        pollfd fds[3] = {{pipes_[0].fd, POLLIN, 0},
                         {pipes_[1].fd, POLLIN, 0},
                         {pid_ > 0 ? exitWatch_ : -1, POLLIN, 0}};
        auto wait =
            std::chrono::duration_cast<milliseconds>(until - Clock::now()) + milliseconds(1);
        if (pid_ > 0 && exitWatch_ < 0) {
            wait = std::min(wait, milliseconds(5));
        }
        if (::poll(fds, 3, static_cast<int>(std::max(wait, milliseconds(0)).count())) <= 0) {
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t got = ::read(pipes_[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                pipes_[i].text.append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                ::close(pipes_[i].fd);
                pipes_[i].fd = -1;
            }
        }
    }

    pid_t pid_ = -1;
    int exitWatch_ = -1;
    Pipe pipes_[2];  // standard output, standard error
    std::size_t lineStart_ = 0;
    std::optional<int> status_;
    rusage usage_{};
    Clock::time_point started_;
    Clock::time_point endedAt_;
};

}  // namespace zq::test
