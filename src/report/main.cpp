// The program: four Muller searches on z^4 + 1, one from 0 towards each zero, and a check that the
// reports were written.
#include <cerrno>
#include <complex>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "report/report.hpp"

int main() {
  using muller::report::muller;
  const std::complex<double> origin(0.0, 0.0);
  // A search that gives up has said so in its report; it does not stop the others or change the status.
  muller(origin, {1.0, 1.0});
  muller(origin, {1.0, -1.0});
  muller(origin, {-1.0, 1.0});
  muller(origin, {-1.0, -1.0});

  // The reports are the program's whole product: if standard output could not take them (closed, or
  // the device full), exiting 0 would pass the loss off as success. The stream stops writing at its
  // first failure, so errno still holds the cause from that failed write.
  if (std::cout.flush()) {
    return 0;
  }
  const int error = errno;
  std::fprintf(stderr, "muller: error de escritura en la salida estandar: %s\n",
               error != 0 ? std::strerror(error) : "causa desconocida");
  return 1;
}
