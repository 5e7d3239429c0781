// Writes a new key pair as the RSA layer's key files: OUTDIR/<name>_private.der
// and OUTDIR/<name>_public.der (the DER key at the start of a 2048-byte block).
// Used to make the demo key pair under keys/.
#include <cstdio>
#include <string>

#include "rsacrypt.h"

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTDIR NAME\n", argv[0]);
        return 2;
    }
    const std::string base = std::string(argv[1]) + "/" + argv[2];
    try {
        RsaCrypt::registerAlgorithms();
        RsaKey key = RsaCrypt::makeKey();
        RsaCrypt::exportToFile(key, true, base + "_private.der");
        RsaCrypt::exportToFile(key, false, base + "_public.der");
    } catch (const crypt_exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
