/* Computes the CRC-32 of every regular file under a directory and prints the
 * file count and the XOR of all CRCs. Run without options it is the warm-start
 * floor of the launcher bench: zlib's crc32, each file over one read-only
 * mapping, one thread.
 *
 * usage: crc32_tree [--deflate] [--read BYTES] [--threads N] [--passes N] DIR
 *
 *   --deflate     libdeflate_crc32 instead of zlib's crc32
 *   --read BYTES  read() each file into a reused buffer of BYTES per thread
 *                 instead of mapping it
 *   --threads N   N threads take files in turn from the one list
 *   --passes N    time N passes over the tree (the list of files is made
 *                 once, before) and print the median and fastest pass, and
 *                 the median CPU time (user + system, all threads) of a pass
 *
 * A file read short of the size it had when opened (cut while being read)
 * counts as changed: its CRC is taken as 0, the value no stored CRC has. */
#define _XOPEN_SOURCE 700
#include <fcntl.h>
#include <ftw.h>
#include <libdeflate.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

static char** g_paths;
static size_t g_count, g_capacity;
static int g_deflate;
static size_t g_read_size; /* 0: map */
static atomic_size_t g_next;
static atomic_ulong g_xor;
static atomic_ullong g_bytes;

static int collect(const char* path, const struct stat* st, int type, struct FTW* ftw) {
    (void)st;
    (void)ftw;
    if (type != FTW_F) return 0;
    if (g_count == g_capacity) {
        g_capacity = g_capacity ? 2 * g_capacity : 4096;
        g_paths = realloc(g_paths, g_capacity * sizeof *g_paths);
        if (!g_paths) return 1;
    }
    g_paths[g_count] = strdup(path);
    return g_paths[g_count++] == NULL;
}

static uint32_t crc_of(uint32_t crc, const void* p, size_t n) {
    if (g_deflate) return libdeflate_crc32(crc, p, n);
    for (size_t step; n > 0; p = (const char*)p + step, n -= step) {
        step = n < (1u << 30) ? n : (1u << 30);
        crc = (uint32_t)crc32(crc, (const Bytef*)p, (uInt)step);
    }
    return crc;
}

/* The CRC of one file, 0 when it cannot be read whole. */
static uint32_t file_crc(const char* path, unsigned char* buf, unsigned long long* bytes) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat st;
    uint32_t crc = 0;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        size_t size = (size_t)st.st_size;
        if (g_read_size == 0) {
            void* view = mmap(NULL, size, PROT_READ, MAP_SHARED, fd, 0);
            if (view != MAP_FAILED) {
                crc = crc_of(0, view, size);
                munmap(view, size);
            }
        } else {
            size_t done = 0;
            ssize_t n = 1;
            while (done < size && n > 0) {
                size_t want = size - done < g_read_size ? size - done : g_read_size;
                n = read(fd, buf, want);
                if (n > 0) {
                    crc = crc_of(crc, buf, (size_t)n);
                    done += (size_t)n;
                }
            }
            if (done < size) crc = 0;
        }
        *bytes += size;
    }
    close(fd);
    return crc;
}

static void* worker(void* arg) {
    (void)arg;
    unsigned char* buf = g_read_size ? malloc(g_read_size) : NULL;
    unsigned long x = 0;
    unsigned long long bytes = 0;
    for (size_t i; (i = atomic_fetch_add(&g_next, 1)) < g_count;) x ^= file_crc(g_paths[i], buf, &bytes);
    atomic_fetch_xor(&g_xor, x);
    atomic_fetch_add(&g_bytes, bytes);
    free(buf);
    return NULL;
}

static double cpu_ms(void) {
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return (double)(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 +
           (double)(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
}

/* One pass; returns its wall time and stores its CPU time, in ms. */
static double pass(int threads, double* cpu) {
    struct timespec t0, t1;
    double c0 = cpu_ms();
    clock_gettime(CLOCK_MONOTONIC, &t0);
    atomic_store(&g_next, 0);
    atomic_store(&g_xor, 0);
    atomic_store(&g_bytes, 0);
    pthread_t ids[64];
    for (int t = 1; t < threads; t++) pthread_create(&ids[t], NULL, worker, NULL);
    worker(NULL);
    for (int t = 1; t < threads; t++) pthread_join(ids[t], NULL);
    clock_gettime(CLOCK_MONOTONIC, &t1);
    *cpu = cpu_ms() - c0;
    return (double)(t1.tv_sec - t0.tv_sec) * 1e3 + (double)(t1.tv_nsec - t0.tv_nsec) / 1e6;
}

static int by_value(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

static double median(double* v, int n) {
    qsort(v, (size_t)n, sizeof *v, by_value);
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int main(int argc, char** argv) {
    int threads = 1, passes = 0, i = 1;
    for (; i < argc - 1; i++) {
        if (strcmp(argv[i], "--deflate") == 0) g_deflate = 1;
        else if (strcmp(argv[i], "--read") == 0 && i + 1 < argc - 1) g_read_size = strtoul(argv[++i], NULL, 0);
        else if (strcmp(argv[i], "--threads") == 0 && i + 1 < argc - 1) threads = atoi(argv[++i]);
        else if (strcmp(argv[i], "--passes") == 0 && i + 1 < argc - 1) passes = atoi(argv[++i]);
        else break;
    }
    if (i != argc - 1 || threads < 1 || threads > 64) {
        fprintf(stderr, "usage: crc32_tree [--deflate] [--read BYTES] [--threads N] [--passes N] DIR\n");
        return 2;
    }
    if (nftw(argv[i], collect, 64, FTW_PHYS) != 0) {
        perror(argv[i]);
        return 1;
    }
    double cpu;
    if (passes <= 0) {
        pass(threads, &cpu);
        printf("%zu files, crc xor %08lx\n", g_count, atomic_load(&g_xor));
        return 0;
    }
    double* ms = calloc(2 * (size_t)passes, sizeof *ms);
    double* cpus = ms + passes;
    pass(threads, &cpu); /* warm-up */
    for (int p = 0; p < passes; p++) ms[p] = pass(threads, &cpus[p]);
    double mid = median(ms, passes);
    printf("%zu files, %.1f MB, crc xor %08lx: median %.2f ms (%.2f GB/s), fastest %.2f ms, cpu %.2f ms\n",
           g_count, (double)atomic_load(&g_bytes) / 1e6, atomic_load(&g_xor), mid,
           (double)atomic_load(&g_bytes) / mid / 1e6, ms[0], median(cpus, passes));
    return 0;
}
