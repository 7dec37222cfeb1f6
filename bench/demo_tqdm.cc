// Runs the progress bar over a few hundred thousand entries at a visible pace.
#include <unistd.h>

#include <cstdlib>

#include "tqdm.h"

int main(int argc, char** argv) {
    const int total = argc > 1 ? std::atoi(argv[1]) : 300000;
    tqdm bar;
    for (int i = 0; i < total; ++i) {
        bar.progress(i, total);
        if (i % 100 == 0) usleep(1000);
    }
    bar.finish();
    return 0;
}
