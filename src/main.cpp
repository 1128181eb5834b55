#include <string>
#include <vector>

#include "QZFlash.h"

int main(int argc, char** argv) { QZFlashMain(std::vector<std::string>(argv + 1, argv + argc)); }
