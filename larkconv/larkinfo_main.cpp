#include <iostream>

#include "info.h"

int main(int argc, char** argv) {
  const int status = larkconv::RunLarkinfo(argc, argv, std::cout);
  std::cout.flush();
  return status;
}
