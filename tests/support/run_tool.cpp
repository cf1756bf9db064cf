#include "support/run_tool.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char **environ;

namespace testtool {

namespace {

// Owns one file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  ~Fd() { reset(); }
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

bool make_pipe(Fd &read_end, Fd &write_end) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  read_end.reset(fds[0]);
  write_end.reset(fds[1]);
  return true;
}

// The environment of the child: ours, with the locale pinned so that the
// oracles' messages and number formats never depend on the host.
std::vector<std::string> child_environment() {
  std::vector<std::string> env;
  for (char **e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "LC_ALL=", 7) != 0 && std::strncmp(*e, "LANG=", 5) != 0)
      env.emplace_back(*e);
  }
  env.emplace_back("LC_ALL=C");
  return env;
}

std::vector<char *> pointers(std::vector<std::string> &strings) {
  std::vector<char *> p;
  for (std::string &s : strings) p.push_back(s.data());
  p.push_back(nullptr);
  return p;
}

}  // namespace

ToolResult run(const std::vector<std::string> &argv, std::chrono::milliseconds timeout) {
  ToolResult result;
  if (argv.empty()) return result;
  std::vector<std::string> args = argv;
  std::vector<std::string> env = child_environment();
  std::vector<char *> arg_ptrs = pointers(args);
  std::vector<char *> env_ptrs = pointers(env);

  Fd out_read, out_write, err_read, err_write;
  if (!make_pipe(out_read, out_write) || !make_pipe(err_read, err_write)) return result;
  const pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    // Child: only async-signal-safe calls until exec.
    const int null_in = open("/dev/null", O_RDONLY);
    if (null_in < 0 || dup2(null_in, 0) < 0 || dup2(out_write.get(), 1) < 0 ||
        dup2(err_write.get(), 2) < 0)
      _exit(127);
    execvpe(arg_ptrs[0], arg_ptrs.data(), env_ptrs.data());
    _exit(127);
  }
  result.started = true;
  out_write.reset();
  err_write.reset();

  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool out_open = true, err_open = true;
  char chunk[1 << 16];
  while (out_open || err_open) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd fds[2] = {{out_open ? out_read.get() : -1, POLLIN, 0},
                     {err_open ? err_read.get() : -1, POLLIN, 0}};
    const int ready = poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      kill(pid, SIGKILL);
      break;
    }
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      const ssize_t n = read(fds[k].fd, chunk, sizeof chunk);
      if (n > 0) {
        (k == 0 ? result.out : result.err).append(chunk, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        (k == 0 ? out_open : err_open) = false;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
    if (result.exit_code == 127 && result.out.empty() && result.err.empty()) result.started = false;
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

std::string describe(const std::vector<std::string> &argv, const ToolResult &result) {
  std::string text;
  for (const std::string &a : argv) text += (text.empty() ? "" : " ") + a;
  if (!result.started)
    text += ": could not be run";
  else if (result.timed_out)
    text += ": timed out";
  else if (result.signal != 0)
    text += ": killed by signal " + std::to_string(result.signal);
  else
    text += ": exit status " + std::to_string(result.exit_code);
  if (!result.err.empty()) text += "; stderr: " + result.err.substr(0, 600);
  return text;
}

}  // namespace testtool
