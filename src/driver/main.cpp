// Placeholder entry point; the run sequence comes with the driver.
#include <cstdio>

int main() {
    std::fputs("QERN Ver0.19\n", stdout);
    return 0;
}
