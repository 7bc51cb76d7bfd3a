// The resampler executable.
#include "driver/run.h"

int main(int argc, char** argv) { return qern::run_resampler(argc, argv); }
