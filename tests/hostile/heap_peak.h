// Peak heap use of one stretch of code, counted by the test program's own
// operator new and delete: every allocation of the library and the standard
// containers passes through them. The count is the usable size of each block,
// so it is an upper bound of what the heap really had to provide, and unlike
// the resident set it does not depend on what earlier tests left mapped.
#pragma once

#include <cstddef>

class CHeapPeak {
 public:
  // Starts a measurement at the heap use of this moment.
  CHeapPeak();
  // Most bytes in use at any moment since the start, beyond those in use at
  // the start.
  size_t PeakBytes() const;

 private:
  size_t m_nBaseline;  // bytes in use when the measurement started
};
