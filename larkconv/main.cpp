#include "driver.h"

int main(int argc, char** argv) {
  return larkconv::RunLarkconv(argc, argv);
}
