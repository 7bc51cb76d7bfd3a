// Writes the demo voice of scripts/demo.sh (demo_voice.h): a sung "sa" at
// G3, 1.85 seconds at 44100 Hz, 16-bit mono.
//
//   qern_demo_voice OUTPUT.wav
#include <cstdio>

#include "demo_voice.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.wav\n", argv[0]);
        return 2;
    }
    return qern::demo::write_wav(argv[1], qern::demo::make_voice()) ? 0 : 1;
}
