// Records that it was started: writes its arguments, one per line, to the
// file named by VXM_MARKER_FILE (through a rename, so a reader never sees
// a half-written file).
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv) {
    const char *marker = std::getenv("VXM_MARKER_FILE");
    if (marker == nullptr) {
        return 1;
    }
    const std::string partial = std::string(marker) + ".part";
    std::FILE *out = std::fopen(partial.c_str(), "w");
    if (out == nullptr) {
        return 1;
    }
    for (int i = 0; i < argc; ++i) {
        std::fprintf(out, "%s\n", argv[i]);
    }
    std::fclose(out);
    return std::rename(partial.c_str(), marker) == 0 ? 0 : 1;
}
