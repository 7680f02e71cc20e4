#include "qt/VersionUpApp.h"

int main(int, char** argv) {
    theApp.InitInstance(argv[0]);
    return 0;
}
