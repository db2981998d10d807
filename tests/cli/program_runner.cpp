#include "tests/cli/program_runner.h"

#include <cerrno>
#include <chrono>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace cli_testing {
namespace {

struct Child {
    pid_t pid = -1;
    int out_fd = -1;
    int err_fd = -1;
};

Child Spawn(const std::string &program, const std::vector<std::string> &args,
            const std::vector<std::string> &environment) {
    int out_pipe[2];
    int err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0) return {};
    if (::pipe2(err_pipe, O_CLOEXEC) != 0) {
        ::close(out_pipe[0]);
        ::close(out_pipe[1]);
        return {};
    }
    std::vector<std::string> env_strings;
    // A variable given here replaces the inherited one (getenv takes the first).
    auto overridden = [&environment](const std::string &entry) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        for (const auto &own : environment) {
            if (own.compare(0, name.size(), name) == 0) return true;
        }
        return false;
    };
    // The program speaks the language of the locale: only a test chooses it.
    auto locale = [](const std::string &entry) { return entry.starts_with("LANG") || entry.starts_with("LC_"); };
    for (char **e = environ; *e != nullptr; ++e) {
        if (!overridden(*e) && !locale(*e)) env_strings.emplace_back(*e);
    }
    env_strings.insert(env_strings.end(), environment.begin(), environment.end());
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const auto &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (auto &entry : env_strings) envp.push_back(entry.data());
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out_pipe[1], STDOUT_FILENO);
        ::dup2(err_pipe[1], STDERR_FILENO);
        const int null_fd = ::open("/dev/null", O_RDONLY);
        ::dup2(null_fd, STDIN_FILENO);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    return {pid, out_pipe[0], err_pipe[0]};
}

RunResult Collect(Child child, int timeout_ms, const std::string &trigger, int signal) {
    RunResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    bool interrupted = false;
    int open_streams = 2;
    while (open_streams > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timed_out = true;
            ::kill(child.pid, SIGKILL);
            break;
        }
        pollfd fds[2] = {{child.out_fd, POLLIN, 0}, {child.err_fd, POLLIN, 0}};
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fds[i].fd);
                (i == 0 ? child.out_fd : child.err_fd) = -1;
                --open_streams;
                continue;
            }
            (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
        }
        if (!trigger.empty() && !interrupted && result.err.find(trigger) != std::string::npos) {
            ::kill(child.pid, signal);
            interrupted = true;
        }
    }
    if (child.out_fd >= 0) ::close(child.out_fd);
    if (child.err_fd >= 0) ::close(child.err_fd);
    int wait_status = 0;
    ::waitpid(child.pid, &wait_status, 0);
    if (WIFEXITED(wait_status)) result.status = WEXITSTATUS(wait_status);
    if (WIFSIGNALED(wait_status)) result.status = 128 + WTERMSIG(wait_status);
    return result;
}

}  // namespace

RunResult ProgramRunner::Run(const std::vector<std::string> &args, int timeout_ms) const {
    return RunAndInterrupt(args, "", timeout_ms);
}

RunResult ProgramRunner::RunAndInterrupt(const std::vector<std::string> &args, const std::string &trigger,
                                         int timeout_ms, int signal) const {
    const Child child = Spawn(program_, args, environment_);
    if (child.pid < 0) return {};
    return Collect(child, timeout_ms, trigger, signal);
}

}  // namespace cli_testing
