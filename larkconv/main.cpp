#include "driver.h"

int main(int argc, char** argv) {
  return RunLarkconv(argc, argv);
}
