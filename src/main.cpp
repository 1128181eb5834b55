// The program proper takes no options: the whole run is the operator dialogue.
#include "QZFlash.h"

int main() { QZFlashMain(); }
