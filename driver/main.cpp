#include "driver/raduza.h"

int main(int argc, char** argv) {
    RADUza tool;
    return tool.run(argc, argv);
}
