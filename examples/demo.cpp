// The demo grows with the engine: each capability that lands shows itself here.
#include <cstdio>

int main() {
  std::puts("zel15rd5 demo");
  return 0;
}
