// Which texture descriptions and views Direct3D 11 accepts, checked before any backend makes
// them: the soft device then refuses what Direct3D refuses, and the Direct3D backend does not
// depend on a driver's own checking (Wine's is lax).
#pragma once

#include "gpu/device.h"

#include <cstddef>
#include <optional>

namespace qor::gpu {

// The description as Direct3D makes it (mipLevels 0 becomes the full chain), or nothing
// when it is refused: empty or over-large sizes, formats without a known pixel size, sample
// counts other than 1, 2, 4, 8, bind flags the format cannot take, SHARED together with
// SHARED_KEYEDMUTEX, SHARED_NTHANDLE without either.
std::optional<TextureDesc> AcceptedTextureDesc(TextureDesc desc);

// Bytes of mip 0 of one array slice.
size_t SliceBytes(const TextureDesc& desc);

// Views need their bind flag and a format the texture can be seen as: its own format, or
// for a typeless texture any typed member of its family.
bool ShaderResourceViewFits(const TextureDesc& texture, uint32_t viewFormat);
bool RenderTargetViewFits(const TextureDesc& texture, uint32_t viewFormat);
bool DepthStencilViewFits(const TextureDesc& texture, uint32_t viewFormat);

}  // namespace qor::gpu
