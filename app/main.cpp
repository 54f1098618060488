#include "app/TorvaneRecorderApp.h"

int main(int argc, char** argv) {
    torvane::CTorvaneRecorderApp app(argc, argv);
    return app.run();
}
