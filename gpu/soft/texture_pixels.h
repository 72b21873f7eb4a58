// Direct access to the memory of the soft device's textures, for its draw context.
#pragma once

#include "gpu/device.h"

#include <cstdint>

namespace qor::gpu::soft {

// Array slice `slice` of a texture of this module's soft device (rows of width × bytes per
// pixel, in shared memory for shared textures); null for any other texture or slice. Valid
// while the texture lives.
uint8_t* TexturePixels(Texture& texture, uint32_t slice);

}  // namespace qor::gpu::soft
