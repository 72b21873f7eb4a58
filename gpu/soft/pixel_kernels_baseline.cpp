#define NORVIK_KERNEL_SET baseline
#include "gpu/soft/pixel_kernels_impl.h"

namespace qor::gpu::soft {

extern const PixelKernels kBaselineKernels;
const PixelKernels kBaselineKernels {&baseline::MapRowLoop, &baseline::PairRow, &baseline::DecodeRow, &baseline::LerpRow,
                                     &baseline::ResampleRow, &baseline::EncodePixels};

}  // namespace qor::gpu::soft
