#include "boot/boot.h"

int main() {
  return nolva::BringUpNetwork();
}
