// Writes a 2 x 1 TGA with the installed library and checks its size.
#include <vexlarcore/output.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    vexlar::outTga_t out(2, 1, argv[1], false);
    out.putPixel(0, 0, vexlar::color_t(1, 0, 0), 1, 0);
    out.putPixel(1, 0, vexlar::color_t(0, 0, 1), 1, 0);
    if (!out.flush()) return 1;
    std::FILE* f = std::fopen(argv[1], "rb");
    long size = (f && std::fseek(f, 0, SEEK_END) == 0) ? std::ftell(f) : -1;
    if (f) std::fclose(f);
    return size == 24 ? 0 : 1;
}
