// noxel-fault-sweep [--subset] [--jobs N] [--examples DIR]
// Runs every case of every life in a process of its own, a few at a time, each under
// a watchdog; prints the cases per finding, the failures, and "N passed, M failed".
// Exit code 0 when nothing failed, 1 when something did, 2 on bad use.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/sweep/sweep.h"

namespace {

using namespace sweep;
using Clock = std::chrono::steady_clock;

constexpr auto watchdogLimit = std::chrono::seconds(20);

struct Running {
    pid_t pid = -1;
    int pipe = -1;
    std::string errorFile;
    Clock::time_point started;
    size_t index = 0;
    bool killed = false;
};

// In the child: runs the life and hands the observation over; never returns.
[[noreturn]] void RunChild(const Life& life, const Case& fault, int pipe, const std::string& errorFile) {
    const int error = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (error >= 0) {
        ::dup2(error, STDERR_FILENO);
        ::close(error);
    }
    const int devnull = ::open("/dev/null", O_WRONLY);
    if (devnull >= 0) ::dup2(devnull, STDOUT_FILENO);
    const Observation o = RunLife(life, fault);
    const char* bytes = reinterpret_cast<const char*>(&o);
    for (size_t done = 0; done < sizeof(o);) {
        const ssize_t n = ::write(pipe, bytes + done, sizeof(o) - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(pipe);
    // The emulated file root goes with the process; a stuck life cannot unwind.
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(emu::HostPath(u"C:\\")).parent_path(), ignored);
    if (o.stuck) _exit(0);
    std::exit(0);
}

Running Start(const Life& life, const Case& fault, size_t index, const std::string& errorFile) {
    int fds[2];
    if (::pipe(fds) != 0) {
        std::perror("pipe");
        std::exit(2);
    }
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("fork");
        std::exit(2);
    }
    if (pid == 0) {
        ::close(fds[0]);
        RunChild(life, fault, fds[1], errorFile);
    }
    ::close(fds[1]);
    return {pid, fds[0], errorFile, Clock::now(), index, false};
}

bool ReadAll(int fd, Observation& o) {
    char* bytes = reinterpret_cast<char*>(&o);
    size_t done = 0;
    while (done < sizeof(o)) {
        const ssize_t n = ::read(fd, bytes + done, sizeof(o) - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

Ending Finish(Running& run, int status) {
    Ending ending;
    ending.observed = ReadAll(run.pipe, ending.observation);
    ::close(run.pipe);
    ending.watchdog = run.killed;
    ending.signalled = WIFSIGNALED(status) && !run.killed;
    ending.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(run.errorFile);
    const std::string errors((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ending.sanitizerReport =
        errors.find("Sanitizer") != std::string::npos || errors.find("runtime error:") != std::string::npos;
    // A sanitizer that ends the process after the hand-over still counts.
    if (ending.observed && ending.exitStatus != 0) ending.sanitizerReport = true;
    return ending;
}

// Runs the cases `jobs` at a time; endings come back in the cases' order.
std::vector<Ending> RunAll(const Life& life, const std::vector<Case>& cases, unsigned jobs) {
    std::vector<Ending> endings(cases.size());
    std::vector<Running> running;
    const std::string errorBase =
        (std::filesystem::temp_directory_path() / ("noxel-sweep-" + std::to_string(::getpid()) + "-"))
            .string();
    size_t next = 0;
    while (next < cases.size() || !running.empty()) {
        while (next < cases.size() && running.size() < jobs) {
            std::string errorFile = errorBase + std::to_string(next);
            running.push_back(Start(life, cases[next], next, errorFile));
            ++next;
        }
        bool finished = false;
        for (size_t i = 0; i < running.size(); ++i) {
            Running& run = running[i];
            int status = 0;
            const pid_t done = ::waitpid(run.pid, &status, WNOHANG);
            if (done == run.pid) {
                endings[run.index] = Finish(run, status);
                std::filesystem::remove(run.errorFile);
                running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
                finished = true;
                break;
            }
            if (!run.killed && Clock::now() - run.started > watchdogLimit) {
                ::kill(run.pid, SIGKILL);
                run.killed = true;
            }
        }
        if (!finished) {
            pollfd none{};
            ::poll(&none, 0, 1);
        }
    }
    return endings;
}

int Usage() {
    std::fprintf(stderr, "usage: noxel-fault-sweep [--subset] [--jobs N] [--examples DIR]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool subset = false;
    unsigned jobs = 2;
    std::string examples = NOXEL_EXAMPLES_DIR;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--subset") {
            subset = true;
        } else if (arg == "--jobs" && i + 1 < argc) {
            jobs = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
            if (jobs == 0) return Usage();
        } else if (arg == "--examples" && i + 1 < argc) {
            examples = argv[++i];
        } else {
            return Usage();
        }
    }

    std::vector<Life> lives;
    try {
        lives = StandardLives(examples);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "noxel-fault-sweep: %s\n", e.what());
        return 2;
    }

    constexpr size_t findings = static_cast<size_t>(Finding::Count);
    size_t clean = 0, passed = 0, failed = 0;
    size_t expectedBy[findings] = {}, failedBy[findings] = {};
    std::vector<std::string> failures, reasons;
    const auto began = Clock::now();
    for (const Life& life : lives) {
        const Ending baseline = RunAll(life, {Case{}}, 1).front();
        const Verdict clean0 = Judge(life, Case{}, baseline, baseline.observation);
        if (clean0.failed || !clean0.findings.empty()) {
            std::printf("%s: the baseline itself fails (%s: %s)\n", life.name.c_str(),
                        FindingName(clean0.findings.front()), clean0.detail.c_str());
            return 1;
        }
        const std::vector<Case> cases = CasesOf(baseline.observation, subset);
        const std::vector<Ending> endings = RunAll(life, cases, jobs);
        for (size_t i = 0; i < cases.size(); ++i) {
            const Verdict verdict = Judge(life, cases[i], endings[i], baseline.observation);
            if (verdict.failed) {
                ++failed;
                ++failedBy[static_cast<size_t>(verdict.findings.front())];
                failures.push_back(life.name + ", " + Describe(cases[i]) + ": " +
                                   FindingName(verdict.findings.front()) +
                                   (verdict.detail.empty() ? "" : " (" + verdict.detail + ")"));
            } else {
                ++passed;
                if (verdict.findings.empty()) {
                    ++clean;
                } else {
                    ++expectedBy[static_cast<size_t>(verdict.findings.front())];
                    const std::string reason =
                        std::string(FindingName(verdict.findings.front())) + ": " + verdict.reason;
                    if (std::find(reasons.begin(), reasons.end(), reason) == reasons.end())
                        reasons.push_back(reason);
                }
            }
        }
        std::printf("%-22s %5zu cases\n", life.name.c_str(), cases.size());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();

    std::printf("\n%-34s %8s %8s\n", "finding", "expected", "failed");
    std::printf("%-34s %8zu %8s\n", "none", clean, "-");
    for (size_t f = 0; f < findings; ++f)
        std::printf("%-34s %8zu %8zu\n", FindingName(static_cast<Finding>(f)), expectedBy[f], failedBy[f]);
    if (!reasons.empty()) {
        std::printf("\nexpected, and why:\n");
        for (const std::string& reason : reasons) std::printf("  %s\n", reason.c_str());
    }
    if (!failures.empty()) {
        std::printf("\nfailures:\n");
        for (size_t i = 0; i < failures.size() && i < 50; ++i) std::printf("  %s\n", failures[i].c_str());
        if (failures.size() > 50) std::printf("  ... and %zu more\n", failures.size() - 50);
    }
    std::printf("\n%.1f s, %u at a time\n%zu passed, %zu failed\n", seconds, jobs, passed, failed);
    return failed == 0 ? 0 : 1;
}
