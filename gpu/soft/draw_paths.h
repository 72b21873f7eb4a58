// Switches between the soft device's draw paths, for the tests and benchmarks that compare
// them (see also UseKernels in pixel_kernels.h).
#pragma once

namespace qor::gpu::soft {

// False: every draw takes the triangle path, rectangles too. True is the default.
void UseRectangleDraws(bool use);
// How many draws of this process took the rectangle path.
unsigned long long RectangleDraws();

}  // namespace qor::gpu::soft
