/* Runs a command as a child subreaper and accounts for every process of its
 * tree, the detached ones included: the updater's second pass and the client
 * it starts are reparented here instead of to init, so their CPU time and
 * peak memory come from the kernel's own accounting (wait4), not from
 * sampling.
 *
 *   reap_run REPORT TIMEOUT_S COMMAND [ARGS...]
 *
 * Waits until no process of the tree is left (or TIMEOUT_S seconds have
 * passed: exit status 124, the rest keep running). REPORT gets one line per
 * process that ended:
 *   pid comm status start_epoch_s end_epoch_s user_s sys_s maxrss_kib
 * where status is the exit code, or 128 + the signal that ended it. The exit
 * status is the command's own.
 *
 * With VXM_RSS_SAMPLES=FILE and VXM_RSS_PREFIX=DIR in the environment it
 * also writes, every 50 ms, "epoch_s pid vmrss_kib cpu_s" for each process
 * whose executable lies under DIR (the updater passes of this run; cpu_s is
 * its user + system time so far), so that the peak and the CPU time can be
 * placed in the steps. */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static volatile sig_atomic_t timed_out = 0;

static void on_alarm(int signo) {
    (void)signo;
    timed_out = 1;
}

static double now_epoch(void) {
    struct timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static double boot_epoch(void) {
    FILE *f = fopen("/proc/stat", "r");
    char line[512];
    double btime = 0;
    while (f != NULL && fgets(line, sizeof line, f) != NULL) {
        if (sscanf(line, "btime %lf", &btime) == 1) {
            break;
        }
    }
    if (f != NULL) {
        fclose(f);
    }
    return btime;
}

/* Name and start time of a zombie that has not been reaped yet. */
static void describe(pid_t pid, char *comm, size_t size, double *start) {
    char path[64];
    char stat[4096];
    snprintf(comm, size, "?");
    *start = 0;
    snprintf(path, sizeof path, "/proc/%d/stat", (int)pid);
    FILE *f = fopen(path, "r");
    if (f == NULL) {
        return;
    }
    const size_t n = fread(stat, 1, sizeof stat - 1, f);
    fclose(f);
    stat[n] = '\0';
    char *open = strchr(stat, '(');
    char *close = strrchr(stat, ')');
    if (open == NULL || close == NULL || close < open) {
        return;
    }
    snprintf(comm, size, "%.*s", (int)(close - open - 1), open + 1);
    for (char *c = comm; *c != '\0'; ++c) {
        *c = *c == ' ' ? '_' : *c; /* one field in the report */
    }
    /* Field 22, starttime in clock ticks since boot; close + 2 is field 3. */
    char *p = close + 2;
    for (int field = 3; field < 22 && p != NULL; ++field) {
        p = strchr(p, ' ');
        p = p != NULL ? p + 1 : NULL;
    }
    if (p != NULL) {
        *start = boot_epoch() + strtod(p, NULL) / (double)sysconf(_SC_CLK_TCK);
    }
}

/* User + system time of a live process, from fields 14 and 15 of its stat. */
static double cpu_seconds(const char *pid) {
    char path[320];
    char stat[4096];
    snprintf(path, sizeof path, "/proc/%s/stat", pid);
    FILE *f = fopen(path, "r");
    if (f == NULL) {
        return 0;
    }
    const size_t n = fread(stat, 1, sizeof stat - 1, f);
    fclose(f);
    stat[n] = '\0';
    char *p = strrchr(stat, ')');
    unsigned long user = 0;
    unsigned long sys = 0;
    if (p == NULL ||
        sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user, &sys) != 2) {
        return 0;
    }
    return (double)(user + sys) / (double)sysconf(_SC_CLK_TCK);
}

/* One line per process of the run whose executable is under prefix. */
static void sample_rss(FILE *out, const char *prefix) {
    DIR *proc = opendir("/proc");
    struct dirent *entry;
    const size_t length = strlen(prefix);
    const double now = now_epoch();
    while (proc != NULL && (entry = readdir(proc)) != NULL) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') {
            continue;
        }
        char path[320];
        char exe[PATH_MAX];
        snprintf(path, sizeof path, "/proc/%s/exe", entry->d_name);
        const ssize_t n = readlink(path, exe, sizeof exe - 1);
        if (n <= 0 || (size_t)n < length || strncmp(exe, prefix, length) != 0) {
            continue;
        }
        snprintf(path, sizeof path, "/proc/%s/status", entry->d_name);
        FILE *status = fopen(path, "r");
        char line[256];
        long rss = -1;
        while (status != NULL && fgets(line, sizeof line, status) != NULL) {
            if (sscanf(line, "VmRSS: %ld", &rss) == 1) {
                break;
            }
        }
        if (status != NULL) {
            fclose(status);
        }
        if (rss >= 0) {
            fprintf(out, "%.3f %s %ld %.2f\n", now, entry->d_name, rss, cpu_seconds(entry->d_name));
        }
    }
    if (proc != NULL) {
        closedir(proc);
    }
}

static double seconds(struct timeval t) {
    return (double)t.tv_sec + (double)t.tv_usec / 1e6;
}

int main(int argc, char **argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: reap_run REPORT TIMEOUT_S COMMAND [ARGS...]\n");
        return 2;
    }
    FILE *report = fopen(argv[1], "w");
    if (report == NULL || prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        perror("reap_run");
        return 2;
    }
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[3], argv + 3);
        perror(argv[3]);
        _exit(127);
    }
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = on_alarm;
    sigaction(SIGALRM, &action, NULL);
    alarm((unsigned)atoi(argv[2]));
    const char *samples_path = getenv("VXM_RSS_SAMPLES");
    const char *prefix = getenv("VXM_RSS_PREFIX");
    FILE *samples = samples_path != NULL && prefix != NULL ? fopen(samples_path, "w") : NULL;
    const int poll = samples != NULL ? WNOHANG : 0;
    int command_status = 127;
    for (;;) {
        siginfo_t info;
        memset(&info, 0, sizeof info);
        if (waitid(P_ALL, 0, &info, WEXITED | WNOWAIT | poll) != 0) {
            if (errno == EINTR && !timed_out) {
                continue;
            }
            break; /* ECHILD: the whole tree has ended; EINTR: timeout */
        }
        if (info.si_pid == 0) { /* sampling, and nothing has ended yet */
            sample_rss(samples, prefix);
            const struct timespec tick = {0, 50 * 1000 * 1000};
            nanosleep(&tick, NULL);
            if (timed_out) {
                break;
            }
            continue;
        }
        char comm[64];
        double start = 0;
        describe(info.si_pid, comm, sizeof comm, &start);
        int status = 0;
        struct rusage usage;
        if (wait4(info.si_pid, &status, 0, &usage) != info.si_pid) {
            continue;
        }
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (info.si_pid == child) {
            command_status = code;
        }
        fprintf(report, "%d %s %d %.3f %.3f %.3f %.3f %ld\n", (int)info.si_pid, comm, code, start,
                now_epoch(), seconds(usage.ru_utime), seconds(usage.ru_stime), usage.ru_maxrss);
        fflush(report);
    }
    fclose(report);
    if (samples != NULL) {
        fclose(samples);
    }
    return timed_out ? 124 : command_status;
}
