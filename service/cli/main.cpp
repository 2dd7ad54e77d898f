#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("Quorvex Plexmill 14.1.0 build 42604");
        return 0;
    }
    return 0;
}
