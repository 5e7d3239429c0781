// reaper ENDS PROGRAM [ARGS...]: runs PROGRAM as a child subreaper, so that
// the processes it starts detached (the updater's second pass, the client)
// are reaped here instead of by init. Each process that ends below it adds
// the line "PID NAME exit STATUS" or "PID NAME signal NUMBER" to the file
// ENDS. Returns when no process below it is left, with PROGRAM's exit status
// (128 + the signal number when PROGRAM was killed). Exit status 125: the
// reaper itself failed.
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

constexpr int kReaperFailed = 125;
constexpr int kSignalBase = 128;

/// The name of an ended process that is not reaped yet (a zombie keeps it).
std::string processName(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? std::string("?") : name;
}

std::string describe(int status) {
    if (WIFEXITED(status)) {
        return "exit " + std::to_string(WEXITSTATUS(status));
    }
    return "signal " + std::to_string(WTERMSIG(status));
}

int asExitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : kSignalBase + WTERMSIG(status);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: reaper ENDS PROGRAM [ARGS...]\n");
        return kReaperFailed;
    }
    std::ofstream ends(argv[1], std::ios::app);
    if (!ends) {
        std::fprintf(stderr, "reaper: cannot write %s\n", argv[1]);
        return kReaperFailed;
    }
    if (prctl(PR_SET_CHILD_SUBREAPER, 1L, 0L, 0L, 0L) != 0) {
        std::perror("reaper: PR_SET_CHILD_SUBREAPER");
        return kReaperFailed;
    }
    const pid_t program = fork();
    if (program < 0) {
        std::perror("reaper: fork");
        return kReaperFailed;
    }
    if (program == 0) {
        execvp(argv[2], argv + 2);
        std::fprintf(stderr, "reaper: cannot run %s: %s\n", argv[2], std::strerror(errno));
        _exit(kReaperFailed);
    }
    int programStatus = kReaperFailed;
    for (;;) {
        siginfo_t info;
        std::memset(&info, 0, sizeof info);
        // Looked at before it is reaped, while its name can still be read.
        if (waitid(P_ALL, 0, &info, WEXITED | WNOWAIT) != 0) {
            if (errno == EINTR) {
                continue;
            }
            break;  // ECHILD: nothing left below the reaper
        }
        const pid_t pid = info.si_pid;
        const std::string name = processName(pid);
        int status = 0;
        if (waitpid(pid, &status, 0) != pid) {
            continue;
        }
        ends << pid << ' ' << name << ' ' << describe(status) << std::endl;
        if (pid == program) {
            programStatus = asExitStatus(status);
        }
    }
    return programStatus;
}
