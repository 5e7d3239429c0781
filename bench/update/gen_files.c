/* Writes the bulk files of the whole-update benchmark's trees, fast and
 * deterministic: one command per line on standard input.
 *
 *   new r|t|p SEED SIZE PATH    SIZE bytes; r: pseudo-random (incompressible),
 *                               t: words of a small vocabulary (compresses
 *                               about as well as text resources do),
 *                               p: a pseudo-random 64 KiB tile repeated with
 *                               a few bytes changed per repeat (binary data
 *                               with long repeats: compresses to a fraction,
 *                               and quickly, as sample banks and texture
 *                               atlases do)
 *   edit SEED SPANS SRC DST     DST is SRC with SPANS spans of 16 to 64 bytes
 *                               overwritten between 10 % and 90 % of the file
 *                               (headers stay intact, so executables stay
 *                               valid) and a short trailer appended
 *   link SRC DST                DST is a hard link to SRC (unchanged files of
 *                               version 2 share version 1's inode)
 *
 * Parent directories are created as needed. Exit status 0 when every
 * command succeeded. */
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum { kBlock = 1 << 16, kWords = 512, kLine = 8192 };

static uint64_t next_random(uint64_t *state) {
    /* xorshift64*: fast, and a fixed seed gives the same bytes everywhere. */
    uint64_t x = *state;
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    *state = x;
    return x * 2685821657736338717ULL;
}

static uint64_t seeded(const char *seed) {
    uint64_t state = 1469598103934665603ULL; /* FNV-1a of the seed text */
    for (const char *p = seed; *p != '\0'; ++p) {
        state = (state ^ (unsigned char)*p) * 1099511628211ULL;
    }
    return state != 0 ? state : 1;
}

static int make_parents(const char *path) {
    char dir[kLine];
    snprintf(dir, sizeof dir, "%s", path);
    for (char *p = dir + 1; *p != '\0'; ++p) {
        if (*p != '/') {
            continue;
        }
        *p = '\0';
        if (mkdir(dir, 0755) != 0 && errno != EEXIST) {
            perror(dir);
            return -1;
        }
        *p = '/';
    }
    return 0;
}

static void fill_random(uint64_t *state, unsigned char *out, size_t n) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const uint64_t v = next_random(state);
        memcpy(out + i, &v, 8);
    }
    if (i < n) {
        const uint64_t v = next_random(state);
        memcpy(out + i, &v, n - i);
    }
}

/* Words of 2 to 9 lowercase letters, fixed for one seed. */
static void make_vocabulary(uint64_t *state, char words[kWords][12]) {
    for (int w = 0; w < kWords; ++w) {
        const int len = 2 + (int)(next_random(state) % 8);
        for (int k = 0; k < len; ++k) {
            words[w][k] = (char)('a' + next_random(state) % 26);
        }
        words[w][len] = '\0';
    }
}

static void fill_text(uint64_t *state, char words[kWords][12], unsigned char *out, size_t n) {
    size_t i = 0;
    while (i < n) {
        const uint64_t r = next_random(state);
        const char *word = words[r % kWords];
        for (const char *p = word; *p != '\0' && i < n; ++p) {
            out[i++] = (unsigned char)*p;
        }
        if (i < n) {
            out[i++] = (r >> 40) % 12 == 0 ? '\n' : ' ';
        }
    }
}

/* The next block of a tiled file: the tile, with a few bytes changed. */
static void fill_tiled(uint64_t *state, const unsigned char *tile, unsigned char *out, size_t n) {
    memcpy(out, tile, n);
    for (int k = 0; k < 16; ++k) {
        const uint64_t r = next_random(state);
        out[r % n] = (unsigned char)(r >> 32);
    }
}

static int write_new(char kind, const char *seed, long long size, const char *path) {
    static unsigned char block[kBlock];
    static unsigned char tile[kBlock];
    static char words[kWords][12];
    uint64_t state = seeded(seed);
    if (kind == 't') {
        uint64_t vocabulary = seeded("vocabulary");
        make_vocabulary(&vocabulary, words);
    } else if (kind == 'p') {
        fill_random(&state, tile, kBlock);
    }
    if (make_parents(path) != 0) {
        return -1;
    }
    FILE *out = fopen(path, "wb");
    if (out == NULL) {
        perror(path);
        return -1;
    }
    for (long long left = size; left > 0;) {
        const size_t n = left < kBlock ? (size_t)left : kBlock;
        if (kind == 't') {
            fill_text(&state, words, block, n);
        } else if (kind == 'p') {
            fill_tiled(&state, tile, block, n);
        } else {
            fill_random(&state, block, n);
        }
        if (fwrite(block, 1, n, out) != n) {
            perror(path);
            fclose(out);
            return -1;
        }
        left -= (long long)n;
    }
    return fclose(out) == 0 ? 0 : -1;
}

static unsigned char *read_whole(const char *path, size_t *size) {
    FILE *in = fopen(path, "rb");
    if (in == NULL) {
        perror(path);
        return NULL;
    }
    struct stat st;
    unsigned char *data = NULL;
    if (fstat(fileno(in), &st) == 0 && (data = malloc((size_t)st.st_size + 1)) != NULL &&
        fread(data, 1, (size_t)st.st_size, in) != (size_t)st.st_size) {
        free(data);
        data = NULL;
    }
    fclose(in);
    *size = (size_t)st.st_size;
    return data;
}

static int write_edit(const char *seed, int spans, const char *src, const char *dst) {
    size_t size = 0;
    unsigned char *data = read_whole(src, &size);
    if (data == NULL) {
        return -1;
    }
    uint64_t state = seeded(seed);
    for (int s = 0; s < spans && size >= 128; ++s) {
        const size_t len = 16 + (size_t)(next_random(&state) % 49);
        const size_t low = size / 10;
        const size_t range = size * 8 / 10 > len ? size * 8 / 10 - len : 1;
        fill_random(&state, data + low + (size_t)(next_random(&state) % range), len);
    }
    int status = make_parents(dst);
    FILE *out = status == 0 ? fopen(dst, "wb") : NULL;
    if (out == NULL) {
        perror(dst);
        free(data);
        return -1;
    }
    if (fwrite(data, 1, size, out) != size || fprintf(out, "\nrelease 2 edit %s\n", seed) < 0) {
        status = -1;
    }
    free(data);
    return fclose(out) == 0 ? status : -1;
}

static int write_link(const char *src, const char *dst) {
    if (make_parents(dst) != 0) {
        return -1;
    }
    if (link(src, dst) != 0) {
        perror(dst);
        return -1;
    }
    return 0;
}

static int run_line(char *line) {
    char a[kLine];
    char b[kLine];
    char c[kLine];
    char kind = 0;
    long long size = 0;
    int spans = 0;
    if (sscanf(line, "new %c %8191s %lld %8191[^\n]", &kind, a, &size, b) == 4 &&
        (kind == 'r' || kind == 't' || kind == 'p')) {
        return write_new(kind, a, size, b);
    }
    if (sscanf(line, "edit %8191s %d %8191s %8191[^\n]", a, &spans, b, c) == 4) {
        return write_edit(a, spans, b, c);
    }
    if (sscanf(line, "link %8191s %8191[^\n]", a, b) == 2) {
        return write_link(a, b);
    }
    fprintf(stderr, "gen_files: bad command: %s", line);
    return -1;
}

int main(void) {
    static char line[3 * kLine];
    int status = 0;
    while (fgets(line, sizeof line, stdin) != NULL) {
        if (run_line(line) != 0) {
            status = 1;
        }
    }
    return status;
}
