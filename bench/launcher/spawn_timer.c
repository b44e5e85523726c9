/* spawn_timer RUNS PROGRAM...  (PROGRAM is a path; each runs without arguments)
 *
 * Starts the programs in turn, RUNS rounds, each with standard output on a
 * pipe. The program (or the child it starts) writes its CLOCK_MONOTONIC
 * nanoseconds when its main begins (see stamp.c). For every program prints
 * the medians in ms of: time to the child's start, and the whole run (spawn
 * to reaped). Rounds interleave the programs so that load from elsewhere on
 * the machine falls on all of them alike. The first round is a warm-up.
 * For the second and later programs it also prints the medians of the
 * per-round differences against the first program. */
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

static long long now_ns(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

static int by_value(const void* a, const void* b) {
    long long x = *(const long long*)a, y = *(const long long*)b;
    return x < y ? -1 : x > y;
}

static double median_ms(long long* v, int n) {
    qsort(v, (size_t)n, sizeof *v, by_value);
    long long m = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    return (double)m / 1e6;
}

/* Runs `path` once; stores the start latency and the whole time in ns. */
static int run_once(const char* path, long long* start, long long* whole) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    char* argv[] = {(char*)path, NULL};
    pid_t pid;
    long long t0 = now_ns();
    int rc = posix_spawn(&pid, path, &actions, NULL, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return -1;
    }
    char text[64] = {0};
    size_t got = 0;
    ssize_t n;
    while (got < sizeof text - 1 && (n = read(fds[0], text + got, sizeof text - 1 - got)) > 0) got += (size_t)n;
    int status;
    waitpid(pid, &status, 0);
    long long t1 = now_ns();
    close(fds[0]);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || got == 0) return -1;
    *start = atoll(text) - t0;
    *whole = t1 - t0;
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: spawn_timer RUNS PROGRAM...\n");
        return 2;
    }
    int runs = atoi(argv[1]);
    int count = argc - 2;
    long long* start = calloc((size_t)(runs * count), sizeof *start);
    long long* whole = calloc((size_t)(runs * count), sizeof *whole);
    for (int r = -1; r < runs; r++) {
        for (int p = 0; p < count; p++) {
            long long s, w;
            if (run_once(argv[2 + p], &s, &w) != 0) {
                fprintf(stderr, "spawn_timer: %s failed\n", argv[2 + p]);
                return 1;
            }
            if (r >= 0) {
                start[p * runs + r] = s;
                whole[p * runs + r] = w;
            }
        }
    }
    /* Per-round differences against the first program, before sorting. */
    long long* dstart = calloc((size_t)runs, sizeof *dstart);
    long long* dwhole = calloc((size_t)runs, sizeof *dwhole);
    for (int p = 0; p < count; p++) {
        for (int r = 0; r < runs; r++) {
            dstart[r] = start[p * runs + r] - start[r];
            dwhole[r] = whole[p * runs + r] - whole[r];
        }
        double ds = median_ms(dstart, runs), dw = median_ms(dwhole, runs);
        printf("%s start_ms=%.3f whole_ms=%.3f", argv[2 + p], median_ms(start + p * runs, runs),
               median_ms(whole + p * runs, runs));
        if (p > 0) printf(" start_diff_ms=%.3f whole_diff_ms=%.3f", ds, dw);
        printf("\n");
    }
    return 0;
}
